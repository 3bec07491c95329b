#pragma once

// From the bytes of an answer to the JSON tree an operation reads: the status, gzip, the charset,
// the JSON text, and the top-level "error" through which the backend refuses a request.

#include "backend/HttpsClient.h"
#include "json/Fatture.h"
#include "json/Json.h"

#include <memory>

// The parsed answer, owned by the caller, when the status is 200 and "error" is empty once trimmed.
// Otherwise throws EVornError: the status text, a gzip failure, "Json non valido", a failure of the
// path reader, or the trimmed "error" text.
std::unique_ptr<TJSONValue> CheckResponse(const THttpResponse& response);

// The longest queue identifier an upload's answer may carry.
inline constexpr qsizetype kMaxIdCodaLength = 64;

// The record of an upload from its checked answer's "result". The queue identifier goes into file
// names, the log and the record of accepted uploads: one longer than kMaxIdCodaLength, or with a
// control character, makes the answer malformed (EVornError).
std::unique_ptr<TFAESendXml> UploadRecord(const TJSONValue& answer);
