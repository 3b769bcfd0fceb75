// cpp-httplib as tol_http and its tests use it: one limit for every body, a form's too (the
// server's, HttpServer::LimitBodies), instead of its own 8 KiB for forms that the server's
// message would not name.
#pragma once

#include <cstddef>
#include <limits>

#define CPPHTTPLIB_FORM_URL_ENCODED_PAYLOAD_MAX_LENGTH ((std::numeric_limits<size_t>::max)())
#include <httplib.h>
