// The module frame: everything every kelvara extension module shares. Also in this folder,
// included where needed: globals.hpp (module globals, assertions), numpy.hpp and arrays.hpp
// (NumPy's C interface, array arguments and results), threads.hpp (the thread pool).
#pragma once

#include "args.hpp"
#include "buffer.hpp"
#include "capi.hpp"
#include "core.hpp"
#include "cpython.hpp"
#include "imports.hpp"
#include "method.hpp"
#include "module.hpp"
#include "names.hpp"
#include "pickle.hpp"
#include "profile.hpp"
#include "records.hpp"
#include "types.hpp"
