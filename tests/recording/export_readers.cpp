#include "export_readers.h"

#include <hdf5.h>
#include <matio.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

namespace ostrel::recording::test {
namespace {

// UTF-16 code units (no surrogates in the tests' texts) as UTF-8.
std::string utf8Of(const uint16_t *units, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned point = units[i];
        if (point < 0x80) {
            out += char(point);
        } else if (point < 0x800) {
            out += char(0xC0 | (point >> 6));
            out += char(0x80 | (point & 0x3F));
        } else {
            out += char(0xE0 | (point >> 12));
            out += char(0x80 | ((point >> 6) & 0x3F));
            out += char(0x80 | (point & 0x3F));
        }
    }
    return out;
}

// Markers and gaps from their columns, as the MAT file and the python reader give them.
std::vector<RecordingMarker> markersOf(const std::vector<int64_t> &numbers,
                                       const std::vector<uint64_t> &records,
                                       const std::vector<double> &times,
                                       const std::vector<std::string> &wallClocks,
                                       const std::vector<std::string> &labels) {
    std::vector<RecordingMarker> out;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        out.push_back({int(numbers[i]), i < records.size() ? records[i] : 0,
                       i < times.size() ? times[i] : 0, i < wallClocks.size() ? wallClocks[i] : "",
                       i < labels.size() ? labels[i] : ""});
    }
    return out;
}

std::vector<LogGap> gapsOf(const std::vector<uint64_t> &after,
                           const std::vector<uint64_t> &cycles) {
    std::vector<LogGap> out;
    for (std::size_t i = 0; i < after.size(); ++i)
        out.push_back({after[i], i < cycles.size() ? cycles[i] : 0});
    return out;
}

// ---- matio

std::string matText(const matvar_t *v) {
    if (v == nullptr || v->class_type != MAT_C_CHAR || v->data == nullptr) return "";
    return utf8Of(static_cast<const uint16_t *>(v->data), v->nbytes / 2);
}

std::vector<std::string> matTexts(matvar_t *cell) {
    std::vector<std::string> out;
    if (cell == nullptr || cell->class_type != MAT_C_CELL) return out;
    const std::size_t count = cell->nbytes / cell->data_size;
    for (std::size_t i = 0; i < count; ++i) out.push_back(matText(Mat_VarGetCell(cell, int(i))));
    return out;
}

template <typename T>
std::vector<T> matNumbers(const matvar_t *v) {
    std::vector<T> out;
    if (v == nullptr || v->data == nullptr) return out;
    const std::size_t count = v->nbytes / v->data_size;
    for (std::size_t i = 0; i < count; ++i) {
        switch (v->data_type) {
            case MAT_T_DOUBLE:
                out.push_back(T(static_cast<const double *>(v->data)[i]));
                break;
            case MAT_T_UINT16:
                out.push_back(T(static_cast<const uint16_t *>(v->data)[i]));
                break;
            case MAT_T_INT32:
                out.push_back(T(static_cast<const int32_t *>(v->data)[i]));
                break;
            case MAT_T_UINT64:
                out.push_back(T(static_cast<const uint64_t *>(v->data)[i]));
                break;
            default:
                return {};
        }
    }
    return out;
}

struct MatFree {
    void operator()(matvar_t *v) const { Mat_VarFree(v); }
};
using MatVariable = std::unique_ptr<matvar_t, MatFree>;

ReadBack readMat(const std::string &path) {
    ReadBack r;
    mat_t *mat = Mat_Open(path.c_str(), MAT_ACC_RDONLY);
    if (mat == nullptr || Mat_GetVersion(mat) != MAT_FT_MAT73) {
        r.problem = "not a MAT 7.3 file";
        if (mat != nullptr) Mat_Close(mat);
        return r;
    }
    const auto read = [mat](const std::string &name) {
        return MatVariable(Mat_VarRead(mat, name.c_str()));
    };
    r.variables = matTexts(read("channel_variables").get());
    r.names = matTexts(read("channel_names").get());
    r.units = matTexts(read("channel_units").get());
    for (const std::string &variable : r.variables) {
        r.columns.push_back(matNumbers<double>(read(variable).get()));
    }
    r.time = matNumbers<double>(read("time").get());
    const MatVariable markers = read("markers");
    const auto field = [](matvar_t *s, const char *name) {
        return s == nullptr ? nullptr : Mat_VarGetStructFieldByName(s, name, 0);
    };
    r.markers = markersOf(matNumbers<int64_t>(field(markers.get(), "number")),
                          matNumbers<uint64_t>(field(markers.get(), "record")),
                          matNumbers<double>(field(markers.get(), "time")),
                          matTexts(field(markers.get(), "wall_clock")),
                          matTexts(field(markers.get(), "label")));
    const MatVariable description = read("description");
    r.module = matText(field(description.get(), "module"));
    const std::vector<uint64_t> cycles = matNumbers<uint64_t>(field(description.get(), "cycles"));
    r.cycles = cycles.empty() ? 0 : cycles.front();
    r.describedColumns = matTexts(field(description.get(), "columns"));
    matvar_t *gaps = field(description.get(), "gaps");
    r.gaps = gapsOf(matNumbers<uint64_t>(field(gaps, "after_record")),
                    matNumbers<uint64_t>(field(gaps, "cycles")));
    Mat_Close(mat);
    return r;
}

// ---- HDF5

hid_t utf8StringType() {
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, H5T_VARIABLE);
    H5Tset_cset(type, H5T_CSET_UTF8);
    return type;
}

std::vector<std::string> hdf5Texts(hid_t object, const char *name) {
    std::vector<std::string> out;
    if (H5Aexists(object, name) <= 0) return out;
    const hid_t attribute = H5Aopen(object, name, H5P_DEFAULT);
    const hid_t space = H5Aget_space(attribute);
    const hssize_t count = H5Sget_simple_extent_npoints(space);
    std::vector<char *> texts(std::size_t(std::max<hssize_t>(count, 1)), nullptr);
    const hid_t type = utf8StringType();
    if (H5Aread(attribute, type, texts.data()) >= 0) {
        for (hssize_t i = 0; i < count; ++i) out.emplace_back(texts[std::size_t(i)]);
        H5Dvlen_reclaim(type, space, H5P_DEFAULT, texts.data());
    }
    H5Tclose(type);
    H5Sclose(space);
    H5Aclose(attribute);
    return out;
}

uint64_t hdf5Count(hid_t object, const char *name) {
    uint64_t value = 0;
    if (H5Aexists(object, name) <= 0) return value;
    const hid_t attribute = H5Aopen(object, name, H5P_DEFAULT);
    H5Aread(attribute, H5T_NATIVE_UINT64, &value);
    H5Aclose(attribute);
    return value;
}

std::vector<double> hdf5Series(hid_t file, const std::string &name) {
    const hid_t dataset = H5Dopen2(file, name.c_str(), H5P_DEFAULT);
    if (dataset < 0) return {};
    const hid_t space = H5Dget_space(dataset);
    std::vector<double> values(std::size_t(H5Sget_simple_extent_npoints(space)));
    if (!values.empty())
        H5Dread(dataset, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data());
    H5Sclose(space);
    H5Dclose(dataset);
    return values;
}

struct MarkerRow {
    int64_t number;
    uint64_t record;
    double time;
    char *wallClock;
    char *label;
};

void readHdf5Markers(hid_t file, ReadBack &r) {
    const hid_t dataset = H5Dopen2(file, "markers", H5P_DEFAULT);
    const hid_t space = H5Dget_space(dataset);
    std::vector<MarkerRow> rows(std::size_t(H5Sget_simple_extent_npoints(space)));
    const hid_t text = utf8StringType();
    const hid_t type = H5Tcreate(H5T_COMPOUND, sizeof(MarkerRow));
    H5Tinsert(type, "number", HOFFSET(MarkerRow, number), H5T_NATIVE_INT64);
    H5Tinsert(type, "record", HOFFSET(MarkerRow, record), H5T_NATIVE_UINT64);
    H5Tinsert(type, "time", HOFFSET(MarkerRow, time), H5T_NATIVE_DOUBLE);
    H5Tinsert(type, "wall_clock", HOFFSET(MarkerRow, wallClock), text);
    H5Tinsert(type, "label", HOFFSET(MarkerRow, label), text);
    if (!rows.empty() && H5Dread(dataset, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, rows.data()) >= 0) {
        for (const MarkerRow &row : rows)
            r.markers.push_back({int(row.number), row.record, row.time, row.wallClock, row.label});
        H5Dvlen_reclaim(type, space, H5P_DEFAULT, rows.data());
    }
    H5Tclose(type);
    H5Tclose(text);
    H5Sclose(space);
    H5Dclose(dataset);
}

void readHdf5Gaps(hid_t file, ReadBack &r) {
    const hid_t dataset = H5Dopen2(file, "gaps", H5P_DEFAULT);
    const hid_t space = H5Dget_space(dataset);
    r.gaps.resize(std::size_t(H5Sget_simple_extent_npoints(space)));
    const hid_t type = H5Tcreate(H5T_COMPOUND, sizeof(LogGap));
    H5Tinsert(type, "after_record", HOFFSET(LogGap, afterRecord), H5T_NATIVE_UINT64);
    H5Tinsert(type, "cycles", HOFFSET(LogGap, cycles), H5T_NATIVE_UINT64);
    if (!r.gaps.empty() && H5Dread(dataset, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, r.gaps.data()) < 0)
        r.gaps.clear();
    H5Tclose(type);
    H5Sclose(space);
    H5Dclose(dataset);
}

ReadBack readHdf5(const std::string &path) {
    ReadBack r;
    const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (file < 0) {
        r.problem = "not an HDF5 file";
        return r;
    }
    r.variables = hdf5Texts(file, "channel_variables");
    for (const std::string &variable : r.variables) {
        const hid_t dataset = H5Dopen2(file, variable.c_str(), H5P_DEFAULT);
        const std::vector<std::string> name = hdf5Texts(dataset, "name");
        const std::vector<std::string> unit = hdf5Texts(dataset, "unit");
        r.names.push_back(name.empty() ? "" : name.front());
        r.units.push_back(unit.empty() ? "" : unit.front());
        H5Dclose(dataset);
        r.columns.push_back(hdf5Series(file, variable));
    }
    r.time = hdf5Series(file, "time");
    readHdf5Markers(file, r);
    readHdf5Gaps(file, r);
    const std::vector<std::string> module = hdf5Texts(file, "module");
    r.module = module.empty() ? "" : module.front();
    r.cycles = hdf5Count(file, "cycles");
    r.describedColumns = hdf5Texts(file, "columns");
    H5Fclose(file);
    return r;
}

// ---- python3

template <typename T>
std::vector<T> listOf(const nlohmann::json &j) {
    return j.is_array() ? j.get<std::vector<T>>() : std::vector<T>{};
}

ReadBack fromJson(const nlohmann::json &j) {
    ReadBack r;
    r.variables = listOf<std::string>(j["variables"]);
    r.names = listOf<std::string>(j["names"]);
    r.units = listOf<std::string>(j["units"]);
    for (const nlohmann::json &column : j["columns"]) r.columns.push_back(listOf<double>(column));
    r.time = listOf<double>(j["time"]);
    const nlohmann::json &m = j["markers"];
    r.markers = markersOf(listOf<int64_t>(m["number"]), listOf<uint64_t>(m["record"]),
                          listOf<double>(m["time"]), listOf<std::string>(m["wall_clock"]),
                          listOf<std::string>(m["label"]));
    r.gaps =
        gapsOf(listOf<uint64_t>(j["gaps"]["after_record"]), listOf<uint64_t>(j["gaps"]["cycles"]));
    const nlohmann::json &d = j["description"];
    for (auto item = d.begin(); item != d.end(); ++item) r.descriptionKeys.push_back(item.key());
    std::sort(r.descriptionKeys.begin(), r.descriptionKeys.end());
    if (d.contains("module")) r.module = d["module"].get<std::string>();
    if (d.contains("cycles")) r.cycles = d["cycles"].get<uint64_t>();
    if (d.contains("columns")) r.describedColumns = listOf<std::string>(d["columns"]);
    return r;
}

}  // namespace

ReadBack readWithLibrary(const std::string &path, Format format) {
    return format == Format::mat ? readMat(path) : readHdf5(path);
}

bool pythonAvailable() {
    return std::string_view(OSTREL_EXPORT_PYTHON).size() > 0;
}

ReadBack readWithPython(const std::string &path, Format format) {
    const std::string command = std::string(OSTREL_EXPORT_PYTHON) + " '" +
                                OSTREL_READ_EXPORT_SCRIPT + "' '" + path + "' " +
                                std::string(formatName(format));
    std::string out;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char buffer[65536];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            out.append(buffer, n);
        if (::pclose(pipe) != 0) out.clear();
    }
    const nlohmann::json j = nlohmann::json::parse(out, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        ReadBack r;
        r.problem = "python3 could not read the file: " + command;
        return r;
    }
    return fromJson(j);
}

}  // namespace ostrel::recording::test
