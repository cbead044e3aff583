#!/usr/bin/env python3
"""Writes the tables of a package as a merge module would leave them in the
package it is merged into: the module's own keys carry "." and the module id,
and a property-setting action before each immediate action hands it the id.

    scripts/decorate-module.py DIR MODULE_ID OUT_DIR

Only the Trellis tables and custom actions are decorated; the rest of the
tables are copied unchanged."""
import os
import shutil
import sys

# Table -> the columns (by index) that hold keys of the module's own rows.
KEY_COLUMNS = {
    "QM_XmlFile": [0, 4],
    "QM_XmlElement": [0, 1],
    "QM_XmlAttribute": [0, 1],
    "QM_XmlLocatorElement": [0, 2],
    "QM_XmlLocator": [0, 1],
}

# The immediate actions, which read the module id from CustomActionData.
IMMEDIATE = ("QM_XmlInstall", "QM_XmlUninstall", "QM_XmlLocator")


def decorate(value, module_id):
    return value + "." + module_id if value else value


def read_table(path):
    with open(path, encoding="utf-8", newline="") as f:
        return [line.rstrip("\r") for line in f.read().split("\n") if line.rstrip("\r") != ""]


def write_table(path, lines):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write("\n".join(lines) + "\n")


def main():
    if len(sys.argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    source, module_id, out = sys.argv[1:]
    os.makedirs(out, exist_ok=True)
    for name in sorted(os.listdir(source)):
        if not name.endswith(".idt"):
            continue
        table = name[:-4]
        lines = read_table(os.path.join(source, name))
        header, rows = lines[:3], [line.split("\t") for line in lines[3:]]
        if table in KEY_COLUMNS:
            for row in rows:
                for column in KEY_COLUMNS[table]:
                    if column < len(row):
                        row[column] = decorate(row[column], module_id)
        elif table == "QM_LockPermissions":
            for row in rows:
                if len(row) > 1 and row[1] == "QM_XmlFile":
                    row[0] = decorate(row[0], module_id)
        elif table == "CustomAction":
            added = []
            for row in rows:
                if row[0] in IMMEDIATE:
                    added.append([decorate(row[0] + "Id", module_id), "51", "CustomActionData", module_id])
                if row[0].startswith("QM_"):
                    row[0] = decorate(row[0], module_id)
            rows.extend(added)
        elif table == "InstallExecuteSequence":
            added = []
            for row in rows:
                if row[0].startswith("QM_"):
                    row[0] = decorate(row[0], module_id)
                    # Each immediate action reads the module id from
                    # CustomActionData, and clears it: set it just before.
                    base = row[0].split(".")[0]
                    if base in IMMEDIATE:
                        added.append([decorate(base + "Id", module_id), row[1], str(int(row[2]) - 1)])
            rows.extend(added)
        write_table(os.path.join(out, name), header + ["\t".join(row) for row in rows])
    for name in os.listdir(source):
        path = os.path.join(source, name)
        if os.path.isdir(path):
            shutil.copytree(path, os.path.join(out, name), dirs_exist_ok=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
