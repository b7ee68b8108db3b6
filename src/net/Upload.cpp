#include "net/Upload.h"

#include "core/General.h"
#include "core/KvXml.h"

#include <cerrno>
#include <filesystem>
#include <memory>
#include <unordered_map>

namespace dm {

namespace {

// Uploads in progress, owned here so that each can free itself from inside its own handler.
// Main thread only.
std::unordered_map<TUploadInet*, std::unique_ptr<TUploadInet>>& Uploads() {
    static std::unordered_map<TUploadInet*, std::unique_ptr<TUploadInet>> uploads;
    return uploads;
}

std::int64_t SizeOf(const std::string& fileName) {
    std::error_code ec;
    auto size = std::filesystem::file_size(fileName, ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

} // namespace

TUploadInet::TUploadInet(std::string fileName, std::string uploaderUrl, TWebResponseEvent handler,
                         TWebOwnerRef owner, const std::optional<TWebOptions>& options)
    : fileName_(std::move(fileName)), uploaderUrl_(std::move(uploaderUrl)), handler_(std::move(handler)),
      owner_(std::move(owner)), options_(options) {}

TUploadInet::~TUploadInet() = default;

std::int32_t StartUpload(const std::string& fileName, const std::string& serviceUrl, const std::string& uploaderUrl,
                         TWebResponseEvent handler, TWebOwnerRef owner, const std::optional<TWebOptions>& options) {
    auto upload = std::unique_ptr<TUploadInet>(
        new TUploadInet(fileName, uploaderUrl, std::move(handler), std::move(owner), options));
    TUploadInet* u = upload.get();
    Uploads().emplace(u, std::move(upload));
    u->fileSize_ = SizeOf(fileName);
    // Escaped: a file name with "&" or "<" (any name another program chose) must not break the
    // announcement or add elements to it.
    std::string body = "<?xml version=\"1.0\"?><request><public><startupload><filename>";
    AppendHtmlEscaped(body, fileName);
    body += "</filename><size>" + std::to_string(u->fileSize_) + "</size><blocksize>" +
            std::to_string(UploadBlockSize) + "</blocksize></startupload></public></request>";
    return WebPostXml(
        serviceUrl, std::move(body),
        [u](std::int32_t id, WebStatus status, const std::string& text, std::int32_t value) {
            u->StartResponse(id, status, text, value);
        },
        u->self_, options);
}

int ActiveUploads() { return static_cast<int>(Uploads().size()); }

void TUploadInet::StartResponse(std::int32_t, WebStatus status, const std::string& text, std::int32_t value) {
    if (!owner_.Alive()) {
        Finish();
        return;
    }
    if (status == wsFailed) {
        Fail(UploadStartFailed, value);
        return;
    }
    if (status != wsDone) return;
    TKvXML xml;
    xml.Parse(text);
    internalId_ = xml.Root() ? xml.Root()->PathText("public/startupload/internalid") : std::string();
    if (internalId_.empty()) {
        Fail(UploadNoInternalId, 0);
        return;
    }
    stream_.open(fileName_, std::ios::binary);
    if (!stream_ || fileSize_ < 0) {
        Fail(UploadReadFailed, errno);
        return;
    }
    SendNextBlock();
}

void TUploadInet::BlockResponse(std::int32_t, WebStatus status, const std::string&, std::int32_t value) {
    if (!owner_.Alive())
        Finish();
    else if (status == wsFailed)
        Fail(UploadBlockFailed, value);
    else if (status == wsDone)
        SendNextBlock();
}

void TUploadInet::SendNextBlock() {
    if (position_ >= fileSize_) {
        stream_.close();
        Notify(wsDone, internalId_, 0);
        Finish();
        return;
    }
    auto length = std::min(UploadBlockSize, fileSize_ - position_);
    std::string block(static_cast<size_t>(length), '\0');
    stream_.read(block.data(), length);
    if (stream_.gcount() != length) {
        // The file shrank under us: the blocks would never add up to the announced size.
        Fail(UploadReadFailed, 0);
        return;
    }
    position_ += length;
    WebPost(
        uploaderUrl_, std::nullopt, "application/uploader-" + internalId_, std::move(block),
        [this](std::int32_t id, WebStatus status, const std::string& text, std::int32_t value) {
            BlockResponse(id, status, text, value);
        },
        self_, options_);
    if (!Notify(wsProgress, internalId_, static_cast<std::int32_t>(length))) Finish();
}

bool TUploadInet::Notify(WebStatus status, const std::string& text, std::int32_t value) {
    if (!owner_.Alive()) return false;
    if (handler_) handler_(0, status, text, value);
    return owner_.Alive();
}

void TUploadInet::Fail(const std::string& text, std::int32_t value) {
    stream_.close();
    Notify(wsFailed, text, value);
    Finish();
}

void TUploadInet::Finish() {
    // Freed here; nothing of this object may be touched afterwards.
    Uploads().erase(this);
}

} // namespace dm
