// The module frame: everything every kelvara extension module shares.
#pragma once

#include "args.hpp"
#include "buffer.hpp"
#include "capi.hpp"
#include "core.hpp"
#include "imports.hpp"
#include "module.hpp"
#include "pickle.hpp"
#include "profile.hpp"
#include "records.hpp"
#include "types.hpp"
