#include "tests/songfile/tifiles_peer.h"

#include <gtest/gtest.h>

// ticonv.h, which tifiles.h includes, uses C99's `restrict`; C++ spells it
// __restrict.
#define restrict __restrict
#include <tifiles.h>
#undef restrict

namespace tifiles_peer {

Reading Read(const std::string& path) {
    tifiles_library_init();
    Reading reading;
    reading.isTiFile = tifiles_file_is_ti(path.c_str());
    reading.isRegular = tifiles_file_is_regular(path.c_str());
    reading.isTi83Plus = tifiles_file_get_model(path.c_str()) == CALC_TI83P;
    FileContent* content = tifiles_content_create_regular(CALC_TI83P);
    if (content != nullptr) {
        reading.read = tifiles_file_read_regular(path.c_str(), content) == 0;
        if (reading.read) {
            reading.checksumMatches = content->checksum == content->stored_checksum;
            reading.comment = content->comment;
            reading.entries = content->num_entries;
        }
        if (reading.entries > 0) {
            const VarEntry* entry = content->entries[0];
            reading.name = entry->name;
            reading.type = entry->type;
            reading.version = entry->version;
            reading.archived = entry->attr == ATTRB_ARCHIVED;
            if (entry->data != nullptr)
                reading.data.assign(entry->data, entry->data + entry->size);
        }
        tifiles_content_delete_regular(content);
    }
    tifiles_library_exit();
    return reading;
}

bool ExpectOneProgram(const Reading& reading, const std::string& name,
                      const std::string& comment) {
    EXPECT_TRUE(reading.isRegular);
    EXPECT_TRUE(reading.isTi83Plus);
    EXPECT_TRUE(reading.read);
    EXPECT_EQ(reading.comment, comment);
    EXPECT_TRUE(reading.checksumMatches);
    EXPECT_EQ(reading.entries, 1u);
    EXPECT_EQ(reading.name, name);
    EXPECT_EQ(reading.type, 0x05);
    return reading.read && reading.entries == 1;
}

}  // namespace tifiles_peer
