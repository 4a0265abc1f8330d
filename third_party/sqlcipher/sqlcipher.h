/* The one header through which Tessarine includes the vendored SQLCipher: the rename
   header first, so callers link against the prefixed symbols. */
#pragma once
#include "sqlcipher_rename.h"
#include "sqlite3.h"
