// The invoice records are plain data: their fields, accessors and field tables are generated in
// the header. This unit keeps the header compiled on its own.
#include "json/Fatture.h"
