#include "tifiles_peer.h"

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

}  // namespace tifiles_peer
