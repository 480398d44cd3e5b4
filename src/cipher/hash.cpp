// Hashes are header-only templates over Crypto++.
#include "hash.h"
