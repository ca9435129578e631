// Operations whose stages are not built yet: they do nothing, so the engine links and the
// program's calls are harmless. Each is replaced by its own source file as it is built.
#include "pellwyn2008.h"

// Catalog stages.
