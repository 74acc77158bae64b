/* Kept for the fuzz regression replay until it moves to the host program tests. */
#include "stress.h"
