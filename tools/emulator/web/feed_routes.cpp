// feed_routes.cpp - the receipts' files and the event stream.
#include "emulator/web/routes.h"

#include <fstream>
#include <memory>
#include <sstream>

namespace it433td::tools {

namespace {

bool readWhole(const std::filesystem::path &path, std::string *content) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  *content = bytes.str();
  return static_cast<bool>(in);
}

void serveReceipt(const PageFeed &feed, const httplib::Request &request,
                  httplib::Response &response) {
  const std::int64_t number = std::stoll(request.matches[1].str());
  const bool picture = request.matches[2].str() == "png";
  const std::filesystem::path path = feed.fileOf(number, picture);
  std::string content;
  if (path.empty() || !readWhole(path, &content)) {
    response.status = 404;
    response.set_content("no such receipt in this run\n", "text/plain");
    return;
  }
  if (request.has_param("download"))
    response.set_header("Content-Disposition",
                        "attachment; filename=\"" + path.filename().string() + "\"");
  response.set_content(std::move(content), picture ? "image/png" : "text/plain; charset=utf-8");
}

}  // namespace

void addFeedRoutes(httplib::Server &server, PageFeed &feed,
                   std::function<printer::PrinterState()> state) {
  server.Get(R"(/receipts/(\d{1,18})\.(png|txt))",
             [&feed](const httplib::Request &request, httplib::Response &response) {
               serveReceipt(feed, request, response);
             });
  server.Get(kEventsPath, [&feed, state](const httplib::Request &request,
                                         httplib::Response &response) {
    const std::string client = request.remote_addr;
    if (!feed.openStream(client)) {
      response.status = 503;
      response.set_content("too many pages open\n", "text/plain");
      return;
    }
    auto next = std::make_shared<std::uint64_t>(0);
    auto greeted = std::make_shared<bool>(false);
    response.set_chunked_content_provider(
        "text/event-stream",
        [&feed, state, next, greeted](std::size_t, httplib::DataSink &sink) {
          const std::string text =
              *greeted ? feed.waitForEvents(next.get()) : feed.greeting(state(), next.get());
          *greeted = true;
          return !text.empty() && sink.write(text.data(), text.size());
        },
        [&feed, client](bool) { feed.closeStream(client); });
  });
}

}  // namespace it433td::tools
