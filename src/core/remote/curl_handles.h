#pragma once

// Owners of libcurl's handles, so that every path out of a transfer frees them.
#include <cstdio>
#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <string>

namespace vantrel::curl {

inline void initOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

// An FTP session: the transfer handle and the multi handle whose connection cache keeps
// the control connection logged on between requests.
struct Session {
    EasyHandle easy;
    MultiHandle multi;
    explicit operator bool() const { return easy && multi; }
};

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

class SList {
public:
    SList() = default;
    SList(const SList&) = delete;
    SList& operator=(const SList&) = delete;
    ~SList() { curl_slist_free_all(m_list); }
    void append(const std::string& line)
    {
        // On failure libcurl returns null and leaves the list as it was.
        if (curl_slist* longer = curl_slist_append(m_list, line.c_str()))
            m_list = longer;
    }
    curl_slist* get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};

} // namespace vantrel::curl
