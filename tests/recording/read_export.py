#!/usr/bin/python3
"""Reads an export of ostrel-convert as a user would, with h5py (and pandas for the HDF5
export), and prints what it holds as one JSON object for the export tests:
variables, names, units, columns (values in variables order), time, markers, description
(every field), gaps. A MAT 7.3 file is HDF5 underneath: read here without matio.

    read_export.py FILE mat|hdf5
"""
import json
import sys

import h5py
import numpy
import pandas


def mat_value(f, node):
    """A MATLAB variable as Python: char -> str, cell -> list, struct -> dict, numbers ->
    list (vectors) or a number (1 x 1)."""
    if isinstance(node, h5py.Group):
        return {key: mat_value(f, node[key]) for key in node}
    kind = node.attrs["MATLAB_class"].decode()
    if node.attrs.get("MATLAB_empty", 0):
        return "" if kind == "char" else []
    data = node[()]
    if kind == "char":
        return "".join(chr(c) for c in data.T.flatten())
    if kind == "cell":
        return [mat_value(f, f[ref]) for ref in data.T.flatten()]
    values = data.T.flatten().tolist()
    return values[0] if data.size == 1 else values


def read_mat(path):
    f = h5py.File(path, "r")
    variables = mat_value(f, f["channel_variables"])
    description = mat_value(f, f["description"]) if "description" in f else {}
    gaps = description.pop("gaps", {"after_record": [], "cycles": []})
    gaps = {k: v if isinstance(v, list) else [v] for k, v in gaps.items()}  # 1 x 1: a number
    return {
        "variables": variables,
        "names": mat_value(f, f["channel_names"]),
        "units": mat_value(f, f["channel_units"]),
        "columns": [mat_value(f, f[v]) for v in variables],
        "time": mat_value(f, f["time"]),
        "markers": mat_value(f, f["markers"]),
        "description": description,
        "gaps": gaps,
    }


def text(value):
    return value.decode() if isinstance(value, bytes) else value


def plain(value):
    if isinstance(value, numpy.ndarray):
        return [plain(v) for v in value.tolist()]
    if isinstance(value, numpy.generic):
        return value.item()
    return text(value)


def read_hdf5(path):
    f = h5py.File(path, "r")
    variables = [text(v) for v in f.attrs["channel_variables"]]
    table = pandas.DataFrame({v: f[v][:] for v in variables})
    markers = pandas.DataFrame(f["markers"][()])
    gaps = pandas.DataFrame(f["gaps"][()])
    return {
        "variables": variables,
        "names": [text(f[v].attrs["name"]) for v in variables],
        "units": [text(f[v].attrs["unit"]) for v in variables],
        "columns": [table[v].tolist() for v in variables],
        "time": f["time"][:].tolist(),
        "markers": {k: [plain(x) for x in markers[k]] for k in markers.columns},
        "description": {k: plain(v) for k, v in f.attrs.items() if k != "channel_variables"},
        "gaps": {k: gaps[k].tolist() for k in gaps.columns},
    }


if __name__ == "__main__":
    read = read_mat if sys.argv[2] == "mat" else read_hdf5
    json.dump(read(sys.argv[1]), sys.stdout)
