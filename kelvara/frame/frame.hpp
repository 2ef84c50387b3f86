// The module frame: everything every kelvara extension module shares. What to reach for:
//   entry points     frame::Method<"name", "param"...>::def<fn>(doc), MethodWithDefaults<required, ...>,
//                    MethodWithKeywordOnly<positional, required, ...>, frame::getter<fn>, or
//                    frame::guarded(site, body) by hand; sites are `static frame::Site site{"name"};`
//   arguments        frame::parse(signature, ...), frame::check_arg_type, frame::positional_at_most
//   names            frame::Name / KeyNames / Constant at namespace scope, made all or nothing at exec
//   attributes       frame::getattr, frame::getattr_optional (a missing attribute is a null Ref)
//   types            frame::add_type, frame::OneReferenceGC<T, &T::field[, release]>, the pickle hooks
//   other modules    frame::import_type / import_function / import_variable, export_capi;
//                    kelvara::import_time_type() and import_tle_type() beside the records
//   CPython internals frame::cpython:: (cpython.hpp, the one version-gated header)
// Included where needed: globals.hpp (module globals, assertions), numpy_global.hpp (numpy.zeros
// and asarray through a module global), numpy.hpp and arrays.hpp (NumPy's C interface, array
// arguments and results: Items, Rows, RecordOut, DoubleOut; new_array, as_array, array_of, data_of),
// threads.hpp (the thread pool; parallel_blocks for long loops that Ctrl-C must end), and
// frame::poll_signals (core.hpp) every item of a long loop run with the lock held
// (frame::check_signals between blocks run without it).
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
