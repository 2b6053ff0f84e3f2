#include "recmgr/store.h"

namespace recmgr::store {

Status PgOpen(const std::string&, const std::string&, Opened*) { return kIoError; }
Status PgCreate(const std::string&, const std::string&, const FileDefinition&, int8_t) {
  return kIoError;
}

}  // namespace recmgr::store
