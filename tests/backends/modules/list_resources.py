"""Lists every resource of a Windows module with pefile, an independent reader.

One line per resource: type, name, language and the bytes in hex, separated by
tabs; integer IDs are written as "#<id>".
"""
import sys

import pefile


def label(entry):
    return str(entry.name) if entry.name is not None else "#%d" % entry.id


def main(path):
    image = pefile.PE(path)
    for type_entry in image.DIRECTORY_ENTRY_RESOURCE.entries:
        for name_entry in type_entry.directory.entries:
            for language_entry in name_entry.directory.entries:
                data = language_entry.data.struct
                raw = image.get_data(data.OffsetToData, data.Size)
                print("\t".join([label(type_entry), label(name_entry),
                                 str(language_entry.id), raw.hex()]))


if __name__ == "__main__":
    main(sys.argv[1])
