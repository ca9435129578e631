#include "pellwyn2005.h"

CSQLServer2005::CSQLServer2005() : CSQLServer2008("2005 Format", "2005") {}

CSQLServer2005::~CSQLServer2005() = default;
