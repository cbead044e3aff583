// The exported custom-action entry points.
#include "installer/EntryPoints.h"
