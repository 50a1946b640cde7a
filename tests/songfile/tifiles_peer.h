// A file as libtifiles, the file library of the TI link software, reads it:
// a second opinion on files from our writer and from fenk-make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tifiles_peer {

struct Reading {
    bool isTiFile = false;    // tifiles_file_is_ti: a TI file by its signature
    bool isRegular = false;   // a file of variables (not a backup or an OS)
    bool isTi83Plus = false;  // the model told by the name's extension is TI-83 Plus
    bool read = false;        // tifiles_file_read_regular succeeded
    bool checksumMatches = false;  // the sum it computed equals the stored one
    std::string comment;
    std::size_t entries = 0;  // variables in the file
    // The first variable, when there is one.
    std::string name;
    int type = -1;            // 0x05 program, 0x06 protected program
    int version = -1;
    bool archived = false;
    std::vector<std::uint8_t> data;  // its data, starting with the size word
};

// Reads `path` (whose extension tells libtifiles the model, e.g. ".8xp").
Reading Read(const std::string& path);

// Checks (as test expectations) that `reading` is a TI-83 Plus file read
// whole, with `comment`, a matching checksum and one program (type 0x05)
// named `name`; true when it has that variable, so its data can be looked at.
bool ExpectOneProgram(const Reading& reading, const std::string& name,
                      const std::string& comment);

}  // namespace tifiles_peer
