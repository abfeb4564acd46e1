// The MATLAB export: a MAT 7.3 file written by matio. One column vector per column (double,
// raw words uint16) and `time` (seconds), each grown block by block with Mat_VarWriteAppend;
// then the cells `channel_names`, `channel_units` and `channel_variables`, the struct
// `markers` (number, record, time, wall_clock, label) and the struct `description`.
#include <matio.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "recording/export_fields.h"
#include "recording/export_writer.h"
#include "recording/hdf5_errors.h"

namespace ostrel::recording::export_detail {
namespace {

constexpr matio_compression kCompression = MAT_COMPRESSION_ZLIB;
constexpr matio_compression kSeriesCompression = MAT_COMPRESSION_NONE;

// What matio logged since the file was created (its errors are told by the program, not
// printed by the library): HDF5's error stack, printed into its messages, among them.
std::string &matioMessages() {
    static std::string messages;
    return messages;
}

void keepMatioMessage(int level, char *message) {
    if ((level & (MATIO_LOG_LEVEL_ERROR | MATIO_LOG_LEVEL_CRITICAL)) && message != nullptr) {
        matioMessages() += message;
        matioMessages() += '\n';
    }
}

// The system's reason, else matio's first message line. matio prints HDF5's error stack
// without the file driver's words: when the driver's write failed, errno (`systemError`, taken
// at once) still holds its reason.
std::string matioReason(int systemError) {
    const std::string &messages = matioMessages();
    if (std::string reason = systemReasonIn(messages); !reason.empty()) return reason;
    if (systemError != 0 && messages.find("H5FD") != std::string::npos) {
        return std::strerror(systemError);
    }
    return messages.substr(0, messages.find('\n'));
}

struct FreeVariable {
    void operator()(matvar_t *variable) const { Mat_VarFree(variable); }
};
using Variable = std::unique_ptr<matvar_t, FreeVariable>;

// A variable of `rows` x `columns` elements of `type`, copied from `data` (none: empty).
Variable numbers(const char *name, matio_classes kind, matio_types type, std::size_t rows,
                 std::size_t columns, const void *data) {
    std::size_t dims[2] = {rows, columns};
    return Variable(Mat_VarCreate(name, kind, type, 2, dims, const_cast<void *>(data), 0));
}

// A char row vector: MATLAB's characters are UTF-16 code units.
Variable text(const char *name, const std::string &bytes) {
    const std::u16string units = utf16Text(bytes);
    return numbers(name, MAT_C_CHAR, MAT_T_UINT16, units.empty() ? 0 : 1, units.size(),
                   units.data());
}

// A 1 x n cell of char row vectors (n x 1 when `column`).
Variable texts(const char *name, const std::vector<std::string> &items, bool column = false) {
    std::size_t dims[2] = {column ? items.size() : 1, column ? 1 : items.size()};
    Variable cell(Mat_VarCreate(name, MAT_C_CELL, MAT_T_CELL, 2, dims, nullptr, 0));
    for (std::size_t i = 0; cell && i < items.size(); ++i) {
        Mat_VarSetCell(cell.get(), int(i), text(nullptr, items[i]).release());
    }
    return cell;
}

template <typename Number>
Variable scalar(const char *name, matio_classes kind, matio_types type, Number value) {
    return numbers(name, kind, type, 1, 1, &value);
}

Variable fieldVariable(const ExportField &field) {
    const char *name = field.name.c_str();
    struct Maker {
        const char *name;
        Variable operator()(const std::string &t) const { return text(name, t); }
        Variable operator()(const std::vector<std::string> &t) const { return texts(name, t); }
        Variable operator()(double v) const { return scalar(name, MAT_C_DOUBLE, MAT_T_DOUBLE, v); }
        Variable operator()(int32_t v) const { return scalar(name, MAT_C_INT32, MAT_T_INT32, v); }
        Variable operator()(uint64_t v) const {
            return scalar(name, MAT_C_UINT64, MAT_T_UINT64, v);
        }
    };
    return std::visit(Maker{name}, field.value);
}

// A 1 x 1 struct of `fields`, in their order.
Variable structOf(const char *name, std::vector<std::pair<std::string, Variable>> fields) {
    std::vector<const char *> names;
    for (const auto &field : fields) names.push_back(field.first.c_str());
    names.push_back(nullptr);
    std::size_t dims[2] = {1, 1};
    Variable result(Mat_VarCreateStruct2(name, 2, dims, names.data()));
    for (auto &field : fields) {
        if (result && field.second) {
            Mat_VarSetStructFieldByName(result.get(), field.first.c_str(), 0,
                                        field.second.release());
        }
    }
    return result;
}

template <typename Number, typename Member>
Variable columnOf(const char *name, matio_classes kind, matio_types type,
                  const std::vector<RecordingMarker> &markers, Member member) {
    std::vector<Number> values;
    for (const RecordingMarker &m : markers) values.push_back(Number(m.*member));
    return numbers(name, kind, type, values.size(), 1, values.data());
}

Variable markersOf(const std::vector<RecordingMarker> &markers) {
    std::vector<std::string> wallClocks;
    std::vector<std::string> labels;
    for (const RecordingMarker &m : markers) {
        wallClocks.push_back(m.wallClock);
        labels.push_back(m.label);
    }
    std::vector<std::pair<std::string, Variable>> fields;
    fields.emplace_back("number", columnOf<int32_t>("number", MAT_C_INT32, MAT_T_INT32, markers,
                                                    &RecordingMarker::number));
    fields.emplace_back("record", columnOf<uint64_t>("record", MAT_C_UINT64, MAT_T_UINT64, markers,
                                                     &RecordingMarker::record));
    fields.emplace_back("time", columnOf<double>("time", MAT_C_DOUBLE, MAT_T_DOUBLE, markers,
                                                 &RecordingMarker::seconds));
    fields.emplace_back("wall_clock", texts("wall_clock", wallClocks, true));
    fields.emplace_back("label", texts("label", labels, true));
    return structOf(std::string(kMarkersVariable).c_str(), std::move(fields));
}

Variable descriptionOf(const RecordingDescription &description) {
    std::vector<std::pair<std::string, Variable>> fields;
    for (const ExportField &field : exportFieldsOf(description)) {
        fields.emplace_back(field.name, fieldVariable(field));
    }
    std::vector<uint64_t> after;
    std::vector<uint64_t> cycles;
    for (const LogGap &gap : description.gaps) {
        after.push_back(gap.afterRecord);
        cycles.push_back(gap.cycles);
    }
    std::vector<std::pair<std::string, Variable>> gapFields;
    gapFields.emplace_back("after_record", numbers("after_record", MAT_C_UINT64, MAT_T_UINT64,
                                                   after.size(), 1, after.data()));
    gapFields.emplace_back(
        "cycles", numbers("cycles", MAT_C_UINT64, MAT_T_UINT64, cycles.size(), 1, cycles.data()));
    fields.emplace_back("gaps", structOf("gaps", std::move(gapFields)));
    return structOf(std::string(kDescriptionVariable).c_str(), std::move(fields));
}

class MatWriter final : public ExportWriter {
  public:
    MatWriter(const std::string &path, const ExportContents &contents);
    ~MatWriter() override;
    bool append(const ExportBlock &block) override;
    bool finish() override;
    std::string error() const override { return error_; }

  private:
    bool appendSeries(const std::string &name, const void *data, std::size_t count);
    bool write(Variable variable);
    bool fail(const char *what);

    bool reopen();

    const ExportContents &contents_;
    const std::string path_;
    mat_t *file_ = nullptr;
    bool appended_ = false;  // the series exist in the file
    std::size_t blocks_ = 0;
    std::string error_;
};

// Blocks appended between two closes of the file. HDF5 keeps the index of every chunk it
// wrote while the file is open (matio's chunks are 4096 elements: 8 MB for a 512 MB
// recording); closing and reopening it lets that go, so memory stays flat.
constexpr std::size_t kBlocksPerOpening = 16;

MatWriter::MatWriter(const std::string &path, const ExportContents &contents)
    : contents_(contents), path_(path) {
    silenceHdf5Errors();
    Mat_LogInitFunc("ostrel-convert", keepMatioMessage);
    matioMessages().clear();
    file_ = Mat_CreateVer(path.c_str(), nullptr, MAT_FT_MAT73);
    if (file_ == nullptr) fail("cannot create");
}

MatWriter::~MatWriter() {
    if (file_ != nullptr) Mat_Close(file_);
}

bool MatWriter::appendSeries(const std::string &name, const void *data, std::size_t count) {
    std::size_t dims[2] = {count, 1};
    const bool raw = contents_.raw && name != kTimeVariable;
    Variable variable(Mat_VarCreate(name.c_str(), raw ? MAT_C_UINT16 : MAT_C_DOUBLE,
                                    raw ? MAT_T_UINT16 : MAT_T_DOUBLE, 2, dims,
                                    const_cast<void *>(data), MAT_F_DONT_COPY_DATA));
    return variable && Mat_VarWriteAppend(file_, variable.get(), kSeriesCompression, 1) == 0;
}

bool MatWriter::append(const ExportBlock &block) {
    if (!error_.empty()) return false;
    if (!appendSeries(std::string(kTimeVariable), block.times.data(), block.count)) {
        return fail("cannot write");
    }
    for (std::size_t c = 0; c < contents_.columns.size(); ++c) {
        const void *data = contents_.raw
                               ? static_cast<const void *>(block.words.data() + c * kBlockRecords)
                               : static_cast<const void *>(block.values.data() + c * kBlockRecords);
        if (!appendSeries(contents_.columns[c].identifier, data, block.count)) {
            return fail("cannot write");
        }
    }
    appended_ = true;
    return ++blocks_ % kBlocksPerOpening != 0 || reopen();
}

bool MatWriter::reopen() {
    if (Mat_Close(std::exchange(file_, nullptr)) != 0) return fail("cannot write");
    file_ = Mat_Open(path_.c_str(), MAT_ACC_RDWR);
    return file_ != nullptr || fail("cannot write");
}

bool MatWriter::write(Variable variable) {
    return variable && Mat_VarWrite(file_, variable.get(), kCompression) == 0;
}

bool MatWriter::finish() {
    if (!error_.empty()) return false;
    std::vector<std::string> names;
    std::vector<std::string> units;
    std::vector<std::string> identifiers;
    for (const ExportColumn &column : contents_.columns) {
        names.push_back(column.name);
        units.push_back(column.unit);
        identifiers.push_back(column.identifier);
        // No records: every series is an empty column all the same.
        if (!appended_ &&
            !write(numbers(column.identifier.c_str(), contents_.raw ? MAT_C_UINT16 : MAT_C_DOUBLE,
                           contents_.raw ? MAT_T_UINT16 : MAT_T_DOUBLE, 0, 1, nullptr))) {
            return fail("cannot write");
        }
    }
    const RecordingDescription none;
    const RecordingDescription &described =
        contents_.description != nullptr ? *contents_.description : none;
    const bool written =
        (appended_ || write(numbers(std::string(kTimeVariable).c_str(), MAT_C_DOUBLE, MAT_T_DOUBLE,
                                    0, 1, nullptr))) &&
        write(texts("channel_names", names)) && write(texts("channel_units", units)) &&
        write(texts("channel_variables", identifiers)) && write(markersOf(described.markers)) &&
        (contents_.description == nullptr || write(descriptionOf(*contents_.description)));
    if (!written) return fail("cannot write");
    const int closed = Mat_Close(std::exchange(file_, nullptr));
    return closed == 0 || fail("cannot write");
}

bool MatWriter::fail(const char *what) {
    const int systemError = errno;
    if (error_.empty()) {
        std::string reason = takeHdf5Error();
        if (reason.empty()) reason = matioReason(systemError);
        error_ = std::string(what) + ": " + (reason.empty() ? "the matio library failed" : reason);
    }
    return false;
}

}  // namespace

std::unique_ptr<ExportWriter> createMatWriter(const std::string &path,
                                              const ExportContents &contents) {
    return std::make_unique<MatWriter>(path, contents);
}

}  // namespace ostrel::recording::export_detail
