#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "OrvaneCore/Platform/SafeFiles.h"
#include "Server/ResultUploader.h"
#include "Support/NginxServer.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

// Room for 8 MiB: far more than the test's document.
std::string Gunzip(const std::string& ACompressed) {
  z_stream LStream{};
  std::string LOut(8 << 20, '\0');
  EXPECT_EQ(inflateInit2(&LStream, 15 + 16), Z_OK);
  LStream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(ACompressed.data()));
  LStream.avail_in = static_cast<uInt>(ACompressed.size());
  LStream.next_out = reinterpret_cast<Bytef*>(LOut.data());
  LStream.avail_out = static_cast<uInt>(LOut.size());
  EXPECT_EQ(inflate(&LStream, Z_FINISH), Z_STREAM_END);
  LOut.resize(LStream.total_out);
  inflateEnd(&LStream);
  return LOut;
}

TEST(ResultUploaderTest, AResultArrivesGzippedAsItsLocalBytesAndASecondSendReplacesIt) {
  Testing::TNginxOptions LOptions;
  LOptions.ExtraLogFields = "$http_content_encoding $content_type";
  Testing::TNginxServer LServer(LOptions);
  Testing::TTempDir LData;
  // Many times the chunk size, so that reading and compressing go round their loops.
  std::string LDocument = "<FileInventory>";
  for (int I = 0; I < 20000; ++I)
    LDocument += "<File Path=\"/srv/d" + std::to_string(I * 7919 % 100003) + "\"/>";
  LDocument += "</FileInventory>";
  const std::string LRelative = "results/File Scanner/20261207-101500-042.xml";
  ASSERT_TRUE(ReplaceFile(LData.Path(), LRelative, LDocument).Done());

  const auto LOutbox =
      std::make_shared<TOutbox>(LData.Path(), LServer.Url() + "clients/c1/",
                                std::make_shared<THttpClient>(THttpClientOptions{"", "", "", true}));
  TResultUploader LUploader(LOutbox);
  const std::string LTaskId = "{F21E8F93-BA40-41E7-A9FB-A0771FA3480B}";
  LUploader.ResultWritten(LTaskId, LData.Path() + "/" + LRelative);
  LUploader.ResultWritten(LTaskId, LData.Path() + "/" + LRelative);
  LOutbox->Start();
  ASSERT_TRUE(LOutbox->WaitUntilEmpty(Clock().DeadlineIn(20)));
  LOutbox->Stop();

  const std::string LFolder = "clients/c1/results/" + LTaskId;
  const std::string LSent = LServer.ReadFile(LFolder + "/20261207-101500-042.xml");
  EXPECT_LT(LSent.size(), LDocument.size() / 4);
  EXPECT_EQ(Gunzip(LSent), LDocument);
  EXPECT_EQ(LServer.WaitForRequests("gzip application/xml", 2), 2);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(LServer.Root() + "/" + LFolder),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
}  // namespace Orvane
