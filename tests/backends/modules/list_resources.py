"""Lists every resource of a Windows module with pefile, an independent reader.

One line per resource: type, name, language and the bytes in hex, separated by
tabs; integer IDs are written as "#<id>". Usage: list_resources.py MODULE OUTPUT
"""
import sys

import pefile


def label(entry):
    return str(entry.name) if entry.name is not None else "#%d" % entry.id


def main(path, output):
    image = pefile.PE(path)
    lines = []
    for type_entry in image.DIRECTORY_ENTRY_RESOURCE.entries:
        for name_entry in type_entry.directory.entries:
            for language_entry in name_entry.directory.entries:
                data = language_entry.data.struct
                raw = image.get_data(data.OffsetToData, data.Size)
                lines.append("\t".join([label(type_entry), label(name_entry),
                                         str(language_entry.id), raw.hex()]))
    with open(output, "w", encoding="utf-8", newline="\n") as listing:
        listing.write("".join(line + "\n" for line in lines))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
