#pragma once

// Chunked upload: a file announced to the service, then posted block by block, each block a
// request of its own that starts when the previous block's answer has come.

#include "net/Web.h"

#include <cstdint>
#include <fstream>
#include <string>

namespace dm {

inline constexpr std::int64_t UploadBlockSize = 102400;

// Runs one upload and frees itself when it is over, whichever way.
class TUploadInet {
public:
    TUploadInet(const TUploadInet&) = delete;
    TUploadInet& operator=(const TUploadInet&) = delete;
    ~TUploadInet();

private:
    friend std::int32_t StartUpload(const std::string&, const std::string&, const std::string&, TWebResponseEvent,
                                    TWebOwnerRef, const std::optional<TWebOptions>&);
    TUploadInet(std::string fileName, std::string uploaderUrl, TWebResponseEvent handler, TWebOwnerRef owner,
                const std::optional<TWebOptions>& options);

    void StartResponse(std::int32_t id, WebStatus status, const std::string& text, std::int32_t value);
    void BlockResponse(std::int32_t id, WebStatus status, const std::string& text, std::int32_t value);
    void SendNextBlock();
    // False when the owner is gone; the upload is then over.
    bool Notify(WebStatus status, const std::string& text, std::int32_t value);
    void Fail(const std::string& text, std::int32_t value);
    void Finish();

    std::string fileName_;
    std::int64_t fileSize_ = -1;
    std::string internalId_;
    std::ifstream stream_;
    std::int64_t position_ = 0;
    std::string uploaderUrl_;
    TWebResponseEvent handler_;
    TWebOwnerRef owner_;
    std::optional<TWebOptions> options_;
    TWebOwner self_; // silences this upload's own requests once it is freed
};

// Announces the file at the service URL and posts its blocks to the uploader URL. Returns the id
// of the announcing request. The owner's handler then gets, with request id 0 and the service's
// id of the upload as text, wsProgress with the size of each block as it goes out and one
// wsDone with value 0 at the end; or a wsFailed with a text when the upload cannot go on.
std::int32_t StartUpload(const std::string& fileName, const std::string& serviceUrl, const std::string& uploaderUrl,
                         TWebResponseEvent handler, TWebOwnerRef owner,
                         const std::optional<TWebOptions>& options = std::nullopt);

// Uploads started and not yet over.
int ActiveUploads();

inline constexpr const char* UploadStartFailed = "Upload: the start request failed.";
inline constexpr const char* UploadNoInternalId = "Upload: the service gave no upload id.";
inline constexpr const char* UploadBlockFailed = "Upload: a block request failed.";
inline constexpr const char* UploadReadFailed = "Upload: the file cannot be read.";

} // namespace dm
