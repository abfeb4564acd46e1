/*
 * The C interface of a USB module library.
 *
 * A shared library named by the environment variable OSTREL_MODULE_LIBRARY must export the
 * first ten functions below with C linkage under exactly these names and signatures; Ostrel then
 * uses it instead of its simulated modules. UsbCancelReads is optional. Every function returns
 * non-zero on success and 0 on failure; after a failure UsbGetLastError yields the library's 32-bit
 * error code for the calling thread.
 *
 * Guarantees Ostrel relies on:
 * - UsbFindModules writes the names of the attached modules, each ended by a zero byte, the list
 *   ended by an empty name; it never writes more than `size` bytes and always terminates the list.
 * - Asynchronous reads complete in the order in which they were queued.
 * - UsbAsyncWait with flag 0 blocks until its read has completed, failed, or the module's time-out
 *   has passed; a new time-out applies to transfers waited for after the call.
 * - UsbClose cancels reads still in flight; no buffer of the caller is touched once it returns.
 * - UsbCancelReads, where exported, may be called from any thread while another thread waits.
 *   A library without it is drained at STOP: every read in flight is waited for, which takes
 *   up to 16 block times (10.4 s at 40 kbps) instead of the rest of the cycle in progress.
 */
#ifndef OSTREL_USB_MODULE_H
#define OSTREL_USB_MODULE_H

#include <stdint.h>

#if defined(__GNUC__)
#define OSTREL_USB_EXPORT __attribute__((visibility("default")))
#else
#define OSTREL_USB_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Fills nameList (size bytes) with the attached modules' names. */
OSTREL_USB_EXPORT int UsbFindModules(char *nameList, uint32_t size);

/* Opens the module of that name; *handle receives an opaque, non-null handle. */
OSTREL_USB_EXPORT int UsbOpen(void **handle, const char *moduleName);

/* Releases the module; reads in flight fail and their waiters wake. */
OSTREL_USB_EXPORT int UsbClose(void *handle);

/* Sets the time-out in milliseconds of later waits and blocking reads. */
OSTREL_USB_EXPORT int UsbSetTimeout(void *handle, uint32_t timeoutMs);

/* Reads *length bytes (1 or 2) of the port at address port, first byte low; *length receives
 * the number of bytes read. */
OSTREL_USB_EXPORT int UsbReadPort(void *handle, uint8_t port, uint16_t *value, uint16_t *length);

/* Writes length bytes (1 or 2) of *value to the port at address port, low byte first. */
OSTREL_USB_EXPORT int UsbWritePort(void *handle, uint8_t port, uint16_t *value, uint16_t length);

/* Blocking read of at most *length bytes of the data stream; *length receives the count read. */
OSTREL_USB_EXPORT int UsbReadData(void *handle, void *destination, uint32_t *length);

/* Queues a read of *length bytes into destination, which must stay valid until the read has
 * been waited for or the module closed; *transaction receives the read's identifier. */
OSTREL_USB_EXPORT int UsbReadDataAsync(void *handle, void *destination, uint32_t *length,
                                       uint8_t *transaction);

/* Waits for the queued read `transaction`: flag 0 blocks, any other flag only checks.
 * *bytesCount (may be null) receives the number of bytes transferred. */
OSTREL_USB_EXPORT int UsbAsyncWait(void *handle, uint32_t *bytesCount, uint8_t transaction,
                                   int flag);

/* Stores the error code of the calling thread's last failed call. */
OSTREL_USB_EXPORT int UsbGetLastError(uint32_t *code);

/* Optional. Cancels every read in flight on the open module, which stays open: each cancelled
 * read completes at once and its UsbAsyncWait fails (any error code); a read that had completed
 * keeps its data. Each read is still waited for exactly once; no cancelled read touches its
 * buffer once its wait has returned. */
OSTREL_USB_EXPORT int UsbCancelReads(void *handle);

#ifdef __cplusplus
}
#endif

#endif /* OSTREL_USB_MODULE_H */
