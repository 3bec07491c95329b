#include "tests/substitute/CurlTestClient.h"

#include "substitute/SubstituteForms.h"

#include <memory>

namespace {

struct CurlDelete
{
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDelete
{
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

size_t AppendTo(char* data, size_t size, size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

size_t AppendHeader(char* data, size_t size, size_t count, void* target)
{
    auto* lines = static_cast<std::vector<std::string>*>(target);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    lines->push_back(line);
    return size * count;
}

} // namespace

CurlAnswer Perform(int port, const CurlRequest& request, const QString& caFile)
{
    std::unique_ptr<CURL, CurlDelete> curl(curl_easy_init());
    const std::string url = "https://" + request.Host + ":" + std::to_string(port) + request.Path;
    const std::string ca = caFile.toStdString();
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, request.TimeoutMs);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    std::unique_ptr<curl_slist, SlistDelete> headers;
    if (!request.Get) {
        headers.reset(curl_slist_append(headers.release(), ("Content-Type: " + request.ContentType).c_str()));
        if (!request.UserPassword.empty())
            headers.reset(curl_slist_append(
                headers.release(),
                ("Authorization: Basic " + substitute::Base64Encode(request.UserPassword)).c_str()));
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, request.Body.data());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.Body.size()));
        curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    }
    if (request.DecodeGzip)
        curl_easy_setopt(curl.get(), CURLOPT_ACCEPT_ENCODING, "gzip");
    CurlAnswer answer;
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, AppendTo);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &answer.Body);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, AppendHeader);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &answer.HeaderLines);
    answer.Code = curl_easy_perform(curl.get());
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &answer.Status);
    if (!answer.HeaderLines.empty())
        answer.StatusLine = answer.HeaderLines.front();
    return answer;
}
