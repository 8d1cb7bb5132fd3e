#include "SkarvIO.h"

CSkarvIO gSkarvIO;
