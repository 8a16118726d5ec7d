#include <gtest/gtest.h>
#include "control.h"
