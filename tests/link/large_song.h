// The large song the link tests and the link benchmark send: about 24 KB,
// as large as songs get on a TI-83 Plus.
#pragma once

#include "tests/support/test_support.h"

namespace link_test {

// A whole program file (named LARGE): eight sections of 500 rows, each row
// its own, all eight in the order list; 24,000 bytes of rows.
test_support::Bytes LargeSong();

}  // namespace link_test
