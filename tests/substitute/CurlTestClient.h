#pragma once

// A minimal libcurl client for the substitute's own tests: one POST (or GET) with the headers the
// application sends, validating the server against one CA file.

#include "tests/support/TestPki.h"

#include <curl/curl.h>

#include <string>
#include <vector>

inline const char* const kUser = "utente@STUDIO";
inline const char* const kPassword = "p4ss è";
inline const char* const kEndpoint = "/assoc/progs/main/xapirest.sto";

struct CurlAnswer
{
    CURLcode Code = CURLE_OK;
    long Status = 0;
    std::string StatusLine;
    std::string Body;
    std::vector<std::string> HeaderLines;
};

struct CurlRequest
{
    std::string Host = "aziende.localhost";
    std::string Path = kEndpoint;
    std::string UserPassword = std::string(kUser) + ":" + kPassword;
    std::string ContentType = "application/x-www-form-urlencoded; charset=UTF-8";
    std::string Body;
    bool Get = false;
    long TimeoutMs = 10000;
    bool DecodeGzip = false;
};

CurlAnswer Perform(int port, const CurlRequest& request, const QString& caFile = SharedTestPki().CaFile);
