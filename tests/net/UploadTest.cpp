#include "net/Upload.h"

#include "EventLoop.h"
#include "NetFixtures.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace dm;
using namespace dmtest;

namespace {

// A service that announces uploads with a configurable id and keeps every block it receives.
class UploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.Http().Post("/webservices/service.php", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            starts.push_back(req.body);
            res.set_content(startAnswer, "text/xml");
        });
        server.Http().Post("/webservices/uploader.php", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            blockTypes.push_back(req.get_header_value("Content-Type"));
            blocks.push_back(req.body);
            res.set_content("<ok/>", "text/xml");
        });
        server.Start();
    }
    void TearDown() override { EXPECT_TRUE(WaitIdle()); }

    std::string ServiceUrl() { return server.Url("/webservices/service.php"); }
    std::string UploaderUrl() { return server.Url("/webservices/uploader.php"); }

    static std::string Pattern(size_t size) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
        return bytes;
    }

    TLoopbackServer server;
    std::mutex mutex;
    std::string startAnswer =
        "<?xml version=\"1.0\"?><response><public><startupload><internalid>77</internalid></startupload>"
        "</public></response>";
    std::vector<std::string> starts, blocks, blockTypes;
};

std::string StartBody(const std::string& file, long long size) {
    return "<?xml version=\"1.0\"?><request><public><startupload><filename>" + file + "</filename><size>" +
           std::to_string(size) + "</size><blocksize>102400</blocksize></startupload></public></request>";
}

TEST_F(UploadTest, BlocksGoOutInFileOrder) {
    TempDir dir;
    struct {
        const char* name;
        size_t size;
        std::vector<std::int32_t> blockSizes;
    } cases[] = {
        {"two and a half blocks", 256000, {102400, 102400, 51200}},
        {"exactly one block", 102400, {102400}},
        {"empty file", 0, {}},
    };
    for (const auto& c : cases) {
        starts.clear();
        blocks.clear();
        blockTypes.clear();
        const std::string file = dir.Folder() + c.name + ".pdf";
        const std::string bytes = Pattern(c.size);
        WriteFileBytes(file, bytes);
        TRecorder r;
        std::int32_t id = StartUpload(file, ServiceUrl(), UploaderUrl(), r.Handler(), &r);
        EXPECT_GT(id, 0) << c.name;
        ASSERT_TRUE(WaitEnded(r)) << c.name;

        std::vector<TNote> expected;
        for (auto size : c.blockSizes) expected.push_back({0, wsProgress, "77", size});
        expected.push_back({0, wsDone, "77", 0});
        EXPECT_EQ(r.Describe(), Describe(expected)) << c.name;
        for (const auto& n : r.notes) EXPECT_EQ(n.id, 0) << c.name;

        std::lock_guard lock(mutex);
        EXPECT_EQ(starts, std::vector<std::string>{StartBody(file, static_cast<long long>(c.size))}) << c.name;
        std::string joined;
        for (const auto& b : blocks) joined += b;
        EXPECT_EQ(joined, bytes) << c.name;
        ASSERT_EQ(blocks.size(), c.blockSizes.size()) << c.name;
        for (size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_EQ(static_cast<std::int32_t>(blocks[i].size()), c.blockSizes[i]) << c.name;
            EXPECT_EQ(blockTypes[i], "application/uploader-77") << c.name;
        }
        EXPECT_EQ(ActiveUploads(), 0) << c.name;
    }
}

TEST_F(UploadTest, FailuresAreReportedAndTheUploaderFreed) {
    TempDir dir;
    const std::string file = dir.Folder() + "invoices.csv";
    WriteFileBytes(file, Pattern(150000));
    const std::string closed = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x";
    struct {
        const char* name;
        std::string file, answer, serviceUrl, uploaderUrl;
        std::string expected;
    } cases[] = {
        {"start request fails", file, startAnswer, closed, UploaderUrl(),
         "Failed '" + std::string(UploadStartFailed) + "' 12029"},
        {"no internal id", file, "<?xml version=\"1.0\"?><response><public><startupload/></public></response>",
         ServiceUrl(), UploaderUrl(), "Failed '" + std::string(UploadNoInternalId) + "' 0"},
        {"answer not XML", file, "Service unavailable", ServiceUrl(), UploaderUrl(),
         "Failed '" + std::string(UploadNoInternalId) + "' 0"},
        {"block request fails", file, startAnswer, ServiceUrl(), closed,
         "Progress '77' 102400|Failed '" + std::string(UploadBlockFailed) + "' 12029"},
        {"file missing", dir.Folder() + "gone.csv", startAnswer, ServiceUrl(), UploaderUrl(),
         "Failed '" + std::string(UploadReadFailed) + "' 2"},
    };
    for (const auto& c : cases) {
        {
            std::lock_guard lock(mutex);
            startAnswer = c.answer;
            starts.clear();
        }
        TRecorder r;
        StartUpload(c.file, c.serviceUrl, c.uploaderUrl, r.Handler(), &r);
        ASSERT_TRUE(WaitEnded(r)) << c.name;
        EXPECT_EQ(r.Describe(), c.expected) << c.name;
        EXPECT_EQ(ActiveUploads(), 0) << c.name;
    }
    // An unreadable file is still announced, with size -1: the service decides.
    std::lock_guard lock(mutex);
    EXPECT_EQ(starts, std::vector<std::string>{StartBody(dir.Folder() + "gone.csv", -1)});
}

TEST_F(UploadTest, OwnerGoneStopsTheUpload) {
    TempDir dir;
    const std::string file = dir.Folder() + "big.pdf";
    WriteFileBytes(file, Pattern(5 * 102400));
    int calls = 0;
    auto* owner = new QObject;
    StartUpload(
        file, ServiceUrl(), UploaderUrl(),
        [&](std::int32_t, WebStatus, const std::string&, std::int32_t) {
            ++calls;
            delete owner;
        },
        owner);
    ASSERT_TRUE(WaitUntil([&] { return ActiveUploads() == 0; }));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(calls, 1);
    std::lock_guard lock(mutex);
    EXPECT_EQ(blocks.size(), 1u); // the block already on its way, and no other
}

} // namespace
