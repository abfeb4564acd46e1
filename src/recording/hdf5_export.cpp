// The HDF5 export: one chunked, compressed, extendible dataset per column and one of the
// times, each with its "name" and "unit"; the markers and the gaps as compound datasets; the
// description's fields as attributes of the root group. Texts are variable-length UTF-8
// strings, which h5py and pandas read as they are.
#include <hdf5.h>

#include <cstring>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "recording/export_fields.h"
#include "recording/export_writer.h"
#include "recording/hdf5_chunks.h"
#include "recording/hdf5_errors.h"

namespace ostrel::recording::export_detail {
namespace {

constexpr unsigned kDeflateLevel = 1;  // as ChunkPacker deflates: most of the size, little time

// An HDF5 identifier, closed with its own function when it goes.
class Handle {
  public:
    Handle() = default;
    Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
    ~Handle() { reset(); }
    Handle(Handle &&other) noexcept
        : id_(std::exchange(other.id_, H5I_INVALID_HID)), close_(other.close_) {}
    Handle &operator=(Handle &&other) noexcept {
        if (this != &other) {
            reset();
            id_ = std::exchange(other.id_, H5I_INVALID_HID);
            close_ = other.close_;
        }
        return *this;
    }
    hid_t get() const { return id_; }
    bool valid() const { return id_ >= 0; }
    // Closes now; false when closing failed (for a file: its last writes).
    bool close() { return close_ == nullptr || id_ < 0 || close_(std::exchange(id_, -1)) >= 0; }

  private:
    void reset() {
        if (id_ >= 0 && close_ != nullptr) close_(id_);
        id_ = H5I_INVALID_HID;
    }
    hid_t id_ = H5I_INVALID_HID;
    herr_t (*close_)(hid_t) = nullptr;
};

Handle stringType() {
    Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
    H5Tset_size(type.get(), H5T_VARIABLE);
    H5Tset_cset(type.get(), H5T_CSET_UTF8);
    return type;
}

Handle listSpace(hsize_t count) {
    return Handle(H5Screate_simple(1, &count, nullptr), H5Sclose);
}

bool writeAttribute(hid_t object, const std::string &name, hid_t type, hid_t space,
                    const void *data) {
    const Handle attribute(H5Acreate2(object, name.c_str(), type, space, H5P_DEFAULT, H5P_DEFAULT),
                           H5Aclose);
    return attribute.valid() && H5Awrite(attribute.get(), type, data) >= 0;
}

bool writeText(hid_t object, const std::string &name, const std::string &text) {
    const Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    const char *data = text.c_str();
    return writeAttribute(object, name, stringType().get(), space.get(), &data);
}

bool writeTexts(hid_t object, const std::string &name, const std::vector<std::string> &texts) {
    std::vector<const char *> data;
    for (const std::string &text : texts) data.push_back(text.c_str());
    return writeAttribute(object, name, stringType().get(), listSpace(texts.size()).get(),
                          data.data());
}

template <typename Number>
bool writeNumber(hid_t object, const std::string &name, hid_t type, Number value) {
    const Handle space(H5Screate(H5S_SCALAR), H5Sclose);
    return writeAttribute(object, name, type, space.get(), &value);
}

bool writeField(hid_t object, const ExportField &field) {
    struct Writer {
        hid_t object;
        const std::string &name;
        bool operator()(const std::string &text) const { return writeText(object, name, text); }
        bool operator()(const std::vector<std::string> &texts) const {
            return writeTexts(object, name, texts);
        }
        bool operator()(double v) const { return writeNumber(object, name, H5T_NATIVE_DOUBLE, v); }
        bool operator()(int32_t v) const { return writeNumber(object, name, H5T_NATIVE_INT32, v); }
        bool operator()(uint64_t v) const {
            return writeNumber(object, name, H5T_NATIVE_UINT64, v);
        }
    };
    return std::visit(Writer{object, field.name}, field.value);
}

// A one-dimensional dataset that grows by blocks of kBlockRecords, one chunk each, written
// whole and filtered here (hdf5_chunks.h).
struct Series {
    Handle dataset;
    std::size_t elementSize = 0;
    ChunkPacker::Matching matching = ChunkPacker::Matching::runs;
    hsize_t size = 0;
    // The block being appended: in the file's type, then packed (into `packer`'s buffer);
    // `problem` when packing failed.
    std::vector<unsigned char> staging;
    ChunkPacker packer;
    std::span<const unsigned char> packed;
    std::string problem;
};

Series createSeries(hid_t file, const std::string &name, hid_t fileType,
                    ChunkPacker::Matching matching) {
    hsize_t none = 0;
    hsize_t unlimited = H5S_UNLIMITED;
    const Handle space(H5Screate_simple(1, &none, &unlimited), H5Sclose);
    const Handle properties(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
    hsize_t chunk = kBlockRecords;
    H5Pset_chunk(properties.get(), 1, &chunk);
    // What a reader undoes, in this order; ChunkPacker does both.
    H5Pset_shuffle(properties.get());
    H5Pset_deflate(properties.get(), kDeflateLevel);
    Series series;
    series.dataset = Handle(H5Dcreate2(file, name.c_str(), fileType, space.get(), H5P_DEFAULT,
                                       properties.get(), H5P_DEFAULT),
                            H5Dclose);
    series.elementSize = H5Tget_size(fileType);
    series.matching = matching;
    return series;
}

// Appends `count` elements, packed already. Every block but the last is full, so each one
// starts a chunk.
bool writePacked(Series &series, hsize_t count) {
    if (series.size % kBlockRecords != 0) {
        series.problem = "cannot write: a block after a short one";
        return false;
    }
    if (series.packed.empty()) return false;
    hsize_t size = series.size + count;
    hsize_t offset = series.size;
    if (H5Dset_extent(series.dataset.get(), &size) < 0 ||
        H5Dwrite_chunk(series.dataset.get(), H5P_DEFAULT, 0, &offset, series.packed.size(),
                       series.packed.data()) < 0) {
        return false;
    }
    series.size = size;
    return true;
}

// A block's column in the file's type, filling a whole chunk: `count` elements, then zeros.
template <typename Out, typename In>
void stage(Series &series, const In *in, std::size_t count) {
    series.staging.assign(kBlockRecords * sizeof(Out), 0);
    auto *out = reinterpret_cast<Out *>(series.staging.data());
    for (std::size_t i = 0; i < count; ++i) out[i] = Out(in[i]);
    series.packed = series.packer.pack(series.staging.data(), kBlockRecords, sizeof(Out),
                                       series.matching, series.problem);
}

// Runs pack(first, last) over [0, count) in two halves, the second on a thread of its own
// (all on this one should no thread start).
template <typename Pack>
void onTwoThreads(std::size_t count, const Pack &pack) {
    const std::size_t half = count / 2;
    std::thread helper;
    try {
        helper = std::thread(pack, half, count);
    } catch (const std::system_error &) {
        pack(half, count);
    }
    pack(0, half);
    if (helper.joinable()) helper.join();
}

// The rows of the markers' compound dataset, as read by h5py: a structured array.
struct MarkerRow {
    int32_t number;
    uint64_t record;
    double time;
    const char *wallClock;
    const char *label;
};

struct GapRow {
    uint64_t afterRecord;
    uint64_t cycles;
};

template <typename Row>
bool writeTable(hid_t file, const char *name, hid_t rowType, const std::vector<Row> &rows) {
    const Handle dataset(H5Dcreate2(file, name, rowType, listSpace(rows.size()).get(), H5P_DEFAULT,
                                    H5P_DEFAULT, H5P_DEFAULT),
                         H5Dclose);
    return dataset.valid() && (rows.empty() || H5Dwrite(dataset.get(), rowType, H5S_ALL, H5S_ALL,
                                                        H5P_DEFAULT, rows.data()) >= 0);
}

bool writeMarkers(hid_t file, const std::vector<RecordingMarker> &markers) {
    std::vector<std::string> texts;  // the rows' strings, which the rows point into
    texts.reserve(2 * markers.size());
    std::vector<MarkerRow> rows;
    for (const RecordingMarker &m : markers) {
        texts.push_back(utf8Text(m.wallClock));
        const char *wallClock = texts.back().c_str();
        texts.push_back(utf8Text(m.label));
        rows.push_back({m.number, m.record, m.seconds, wallClock, texts.back().c_str()});
    }
    const Handle text = stringType();
    const Handle type(H5Tcreate(H5T_COMPOUND, sizeof(MarkerRow)), H5Tclose);
    H5Tinsert(type.get(), "number", HOFFSET(MarkerRow, number), H5T_NATIVE_INT32);
    H5Tinsert(type.get(), "record", HOFFSET(MarkerRow, record), H5T_NATIVE_UINT64);
    H5Tinsert(type.get(), "time", HOFFSET(MarkerRow, time), H5T_NATIVE_DOUBLE);
    H5Tinsert(type.get(), "wall_clock", HOFFSET(MarkerRow, wallClock), text.get());
    H5Tinsert(type.get(), "label", HOFFSET(MarkerRow, label), text.get());
    return writeTable(file, "markers", type.get(), rows);
}

bool writeGaps(hid_t file, const std::vector<LogGap> &gaps) {
    std::vector<GapRow> rows;
    for (const LogGap &gap : gaps) rows.push_back({gap.afterRecord, gap.cycles});
    const Handle type(H5Tcreate(H5T_COMPOUND, sizeof(GapRow)), H5Tclose);
    H5Tinsert(type.get(), "after_record", HOFFSET(GapRow, afterRecord), H5T_NATIVE_UINT64);
    H5Tinsert(type.get(), "cycles", HOFFSET(GapRow, cycles), H5T_NATIVE_UINT64);
    return writeTable(file, "gaps", type.get(), rows);
}

class Hdf5Writer final : public ExportWriter {
  public:
    Hdf5Writer(const std::string &path, const ExportContents &contents);
    bool append(const ExportBlock &block) override;
    bool finish() override;
    std::string error() const override { return error_; }

  private:
    bool fail(const char *what, std::string problem = {});
    bool labelSeries(const Series &series, const std::string &name, const std::string &unit);
    bool writeRootAttributes();
    void pack(std::size_t series, const ExportBlock &block);

    const ExportContents &contents_;
    Handle file_;
    // The times, then the columns in their order. The packing of a block runs on two
    // threads, each on series of its own; every HDF5 call stays on the writer's thread (the
    // library is not thread-safe).
    std::vector<Series> series_;
    std::string error_;
};

Hdf5Writer::Hdf5Writer(const std::string &path, const ExportContents &contents)
    : contents_(contents) {
    silenceHdf5Errors();
    file_ = Handle(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose);
    if (!file_.valid()) {
        fail("cannot create");
        return;
    }
    // Times repeat their bytes from record to record; values are the conversion's floats (a
    // double would add four bytes of zeros), raw words as they were logged.
    series_.push_back(createSeries(file_.get(), std::string(kTimeVariable), H5T_IEEE_F64LE,
                                   ChunkPacker::Matching::strings));
    bool made = series_.back().dataset.valid() && labelSeries(series_.back(), "Time [s]", "s");
    for (const ExportColumn &column : contents.columns) {
        if (!made) break;
        series_.push_back(createSeries(file_.get(), column.identifier,
                                       contents.raw ? H5T_STD_U16LE : H5T_IEEE_F32LE,
                                       ChunkPacker::Matching::runs));
        made =
            series_.back().dataset.valid() && labelSeries(series_.back(), column.name, column.unit);
    }
    if (!made) fail("cannot write");
}

bool Hdf5Writer::labelSeries(const Series &series, const std::string &name,
                             const std::string &unit) {
    return writeText(series.dataset.get(), "name", utf8Text(name)) &&
           writeText(series.dataset.get(), "unit", utf8Text(unit));
}

// Stages and packs series `index` of `block`: touches that series only, no HDF5 call.
void Hdf5Writer::pack(std::size_t index, const ExportBlock &block) {
    Series &series = series_[index];
    if (index == 0) return stage<double>(series, block.times.data(), block.count);
    const std::size_t first = (index - 1) * kBlockRecords;
    if (contents_.raw) return stage<uint16_t>(series, block.words.data() + first, block.count);
    stage<float>(series, block.values.data() + first, block.count);
}

bool Hdf5Writer::append(const ExportBlock &block) {
    if (!error_.empty()) return false;
    onTwoThreads(series_.size(), [this, &block](std::size_t first, std::size_t last) {
        for (std::size_t s = first; s < last; ++s) pack(s, block);
    });
    for (Series &series : series_) {
        if (!writePacked(series, block.count)) return fail("cannot write", series.problem);
    }
    return true;
}

bool Hdf5Writer::writeRootAttributes() {
    std::vector<std::string> identifiers;
    for (const ExportColumn &column : contents_.columns) identifiers.push_back(column.identifier);
    if (!writeTexts(file_.get(), "channel_variables", identifiers)) return false;
    if (contents_.description == nullptr) return true;
    for (const ExportField &field : exportFieldsOf(*contents_.description)) {
        if (!writeField(file_.get(), field)) return false;
    }
    return true;
}

bool Hdf5Writer::finish() {
    if (!error_.empty()) return false;
    const RecordingDescription none;
    const RecordingDescription &described =
        contents_.description != nullptr ? *contents_.description : none;
    if (!writeMarkers(file_.get(), described.markers) || !writeGaps(file_.get(), described.gaps) ||
        !writeRootAttributes()) {
        return fail("cannot write");
    }
    bool closed = true;
    for (Series &series : series_) closed = series.dataset.close() && closed;
    // The flush writes what the chunk caches hold: a full disk shows here at the latest.
    closed = H5Fflush(file_.get(), H5F_SCOPE_GLOBAL) >= 0 && closed;
    closed = file_.close() && closed;
    return closed || fail("cannot write");
}

bool Hdf5Writer::fail(const char *what, std::string problem) {
    if (error_.empty() && !problem.empty()) error_ = std::move(problem);
    if (error_.empty()) {
        const std::string reason = takeHdf5Error();
        error_ = std::string(what) + ": " + (reason.empty() ? "the HDF5 library failed" : reason);
    }
    return false;
}

}  // namespace

std::unique_ptr<ExportWriter> createHdf5Writer(const std::string &path,
                                               const ExportContents &contents) {
    return std::make_unique<Hdf5Writer>(path, contents);
}

}  // namespace ostrel::recording::export_detail
