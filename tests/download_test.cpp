// The album download against a real HTTP server on loopback: the album site's
// pages and pictures are served by the demo site, with the faults each test
// needs, and the photos land in a temporary folder on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "demo/demo_site.h"
#include "download/album_download.h"
#include "download/photo_names.h"
#include "shell/application.h"
#include "support/recording_window.h"
#include "support/test_text.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::u8s;

// What the server sees of the job's 100 ms schedule also holds how late each
// worker thread and each server thread was woken, which on a loaded machine
// (or under ThreadSanitizer) can reach some tens of milliseconds for a single
// request. It does not add up over a series of requests.
constexpr long long scheduling_noise_ms = 40;

// Milliseconds, printable in a failure message.
long long ms(Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }
namespace fs = std::filesystem;

// Distinct bytes for every picture, so that a mixed-up file shows.
std::string picture_bytes(int album, int photo, std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = static_cast<std::uint32_t>(album * 7919 + photo * 104729 + 1);
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

// Every file and folder under `root`, with file sizes: a before/after
// comparison shows whatever was written anywhere.
std::set<std::string> listing(const fs::path& root) {
  std::set<std::string> entries;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    std::string entry = fs::relative(it->path(), root).string();
    if (it->is_symlink()) entry += " -> link";
    else if (it->is_directory()) entry += "/";
    else entry += " " + std::to_string(it->file_size());
    entries.insert(entry);
  }
  return entries;
}

std::vector<std::string> file_names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class AlbumDownload : public ::testing::Test {
 protected:
  testing::TempDir temp;
  testing::RecordingWindow window;
  demo::DemoSite site{demo::SiteContent{}};
  std::unique_ptr<Application> app;
  std::string host;
  fs::path chosen;

  void SetUp() override {
    site.set_override([this](const demo::RequestRecord& request, int attempt) { return answer(request, attempt); });
    ASSERT_TRUE(site.start());
    host = "127.0.0.1:" + std::to_string(site.port());
    chosen = temp.path() / "chosen";
    fs::create_directories(chosen);
    fs::create_directories(temp.path() / "program");
    ProgramFiles files;
    files.executable = temp.path() / "program" / "velmora";
    files.working_directory = temp.path() / "program";
    app = std::make_unique<Application>(window, Hosts{host, host}, files);
    app->catalogue.site_user = "alice";
    // Most tests need not sit through the full pause before "下载完成".
    app->download.limits.final_pause = 300ms;
  }

  void TearDown() override {
    if (app) {
      stop_album_downloads(*app);
      app.reset();  // waits for every job and worker
    }
    site.stop();
  }

  // --- the album site the tests serve ---------------------------------
  std::mutex served_mutex;
  std::map<std::string, std::string> pages;     // target -> UTF-8 page
  std::map<std::string, std::string> pictures;  // target -> bytes
  std::function<std::optional<demo::Answer>(const demo::RequestRecord&, int)> fault;

  std::optional<demo::Answer> answer(const demo::RequestRecord& request, int attempt) {
    std::function<std::optional<demo::Answer>(const demo::RequestRecord&, int)> fault_now;
    demo::Answer answer;
    {
      std::lock_guard lock(served_mutex);
      fault_now = fault;
      if (auto page = pages.find(request.target); page != pages.end()) {
        answer.body = page->second;
      } else if (auto picture = pictures.find(request.target); picture != pictures.end()) {
        answer.body = picture->second;
      } else {
        answer.status = 404;
        answer.body = "no such thing here";
      }
    }
    if (fault_now)
      if (auto faulty = fault_now(request, attempt)) return faulty;
    return answer;
  }

  void set_fault(std::function<std::optional<demo::Answer>(const demo::RequestRecord&, int)> f) {
    std::lock_guard lock(served_mutex);
    fault = std::move(f);
  }

  static std::string page_target(const std::string& user, int album, int page) {
    return "/photos/" + user + "/albums/" + std::to_string(album) + "/page" + std::to_string(page) +
           "/?style=thumbnail";
  }
  static std::string picture_target(int album, int photo) {
    return "/pic/" + std::to_string(album) + "/" + std::to_string(photo) + "/big.jpg";
  }

  // One thumbnail page: its photo entries as the site marks them, and the
  // link to the next page unless it is the last.
  std::string thumbnail_page(const std::vector<std::string>& thumbnail_addresses, const std::string& next_target) {
    std::string page = u8s(u8"<html><head><title>相册</title></head><body><ul>\n");
    for (const auto& address : thumbnail_addresses)
      page += "<li><a class=\"lightbox lb[album] ListPhoto\" href=\"#\"><img src=\"" + address +
              "\" alt=\"\"></a></li>\n";
    page += "</ul>";
    if (!next_target.empty()) page += "<a href=\"" + next_target + u8s(u8"\">下一页</a>");
    return page + "</body></html>";
  }

  // An album of `count` photos of `size` bytes, `per_page` to a page, served
  // under site user `user`. Returns the pictures in photo order.
  std::vector<std::string> add_album(int album, int count, int per_page = 8, std::size_t size = 30000,
                                     const std::string& user = "alice") {
    std::lock_guard lock(served_mutex);
    std::vector<std::string> bytes;
    int page_count = std::max(1, (count + per_page - 1) / per_page);
    for (int page = 1; page <= page_count; ++page) {
      std::vector<std::string> thumbnails;
      for (int photo = (page - 1) * per_page + 1; photo <= std::min(count, page * per_page); ++photo) {
        // Thumbnails come in either letter case; both become the large picture.
        std::string thumbnail = "/pic/" + std::to_string(album) + "/" + std::to_string(photo) +
                                (photo % 2 ? "/square.jpg" : "/SQUARE.JPG");
        thumbnails.push_back("http://" + host + thumbnail);
        bytes.push_back(picture_bytes(album, photo, size));
        pictures[picture_target(album, photo)] = bytes.back();
      }
      pages[page_target(user, album, page)] =
          thumbnail_page(thumbnails, page < page_count ? page_target(user, album, page + 1) : "");
    }
    return bytes;
  }

  // --- the user's side ----------------------------------------------------
  int add_row(const std::string& title, int album) { return window.append_album(title, album); }

  // A double click on `row`, the folder dialog answered with `folder`; waits
  // until the job and all its workers have ended.
  void download(int row, const std::optional<fs::path>& folder) {
    window.answer_folder_dialogs({folder});
    run_album_download(*app, row);
    ASSERT_TRUE(app->threads.wait_idle(60s)) << "the download did not end";
  }
  void download(int row) { download(row, chosen); }

  std::vector<demo::RequestRecord> requests_for(const std::string& prefix) {
    std::vector<demo::RequestRecord> found;
    for (const auto& request : site.requests())
      if (request.target.rfind(prefix, 0) == 0) found.push_back(request);
    return found;
  }

  std::vector<std::string> completion_texts() {
    std::vector<std::string> texts;
    for (const auto& text : window.status_history())
      if (text.rfind("第 ", 0) == 0) texts.push_back(text);
    return texts;
  }
};

TEST_F(AlbumDownload, SavesEveryPhotoOfEveryPageWithItsTexts) {
  auto expected = add_album(41, 19, 8);
  int row = add_row("Summer", 41);
  download(row);

  auto dialogs = window.folder_dialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].first, "请选择要保存的文件夹");
  EXPECT_EQ(dialogs[0].second, temp.path() / "program");

  // Pages in order, and none after the one without the next-page link.
  std::vector<std::string> page_targets;
  for (const auto& request : requests_for("/photos/")) page_targets.push_back(request.target);
  EXPECT_EQ(page_targets, (std::vector<std::string>{page_target("alice", 41, 1), page_target("alice", 41, 2),
                                                    page_target("alice", 41, 3)}));

  fs::path album = chosen / "Summer";
  ASSERT_EQ(file_names(album).size(), 19u);
  for (int photo = 1; photo <= 19; ++photo) {
    char name[16];
    std::snprintf(name, sizeof name, "%05d.jpg", photo);
    EXPECT_EQ(testing::read_file(album / name), expected[photo - 1]) << name;
  }

  auto texts = window.status_history();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts.front(), "下载开始");
  EXPECT_EQ(texts.back(), "下载完成");
  auto done = completion_texts();
  std::set<std::string> done_set(done.begin(), done.end());
  EXPECT_EQ(done.size(), 19u) << "every photo reports once";
  for (int photo = 1; photo <= 19; ++photo) EXPECT_TRUE(done_set.count(completion_text(photo))) << photo;
  // Every picture was asked for once, with the large picture's address, at
  // the pace of one start per 100 ms.
  auto transfers = requests_for("/pic/");
  ASSERT_EQ(transfers.size(), 19u);
  EXPECT_GE(ms(transfers.back().started - transfers.front().started), 1800 - scheduling_noise_ms);
  EXPECT_LE(ms(transfers.back().started - transfers.front().started), 1800 + 500) << "starts fell behind the schedule";
  EXPECT_TRUE(requests_for("/photos/").size() + requests_for("/pic/").size() == site.requests().size());
}

TEST_F(AlbumDownload, NoRowOrACancelledDialogDoesNothing) {
  add_album(5, 2);
  int row = add_row("Five", 5);
  auto before = listing(temp.path());

  run_album_download(*app, -1);
  EXPECT_TRUE(window.folder_dialogs().empty());

  download(row, std::nullopt);  // cancelled
  EXPECT_EQ(window.folder_dialogs().size(), 1u);
  EXPECT_TRUE(window.status_history().empty());
  EXPECT_TRUE(site.requests().empty());
  EXPECT_EQ(listing(temp.path()), before);

  // Nothing is left blocking the next double click.
  download(row);
  EXPECT_EQ(file_names(chosen / "Five"), (std::vector<std::string>{"00001.jpg", "00002.jpg"}));
}

TEST_F(AlbumDownload, ThePageLoopStopsAtTheFirstPageWithoutTheExactMarker) {
  add_album(7, 24, 8);  // three pages
  {
    // Page 2 links on with the marker in another letter case: it is the last.
    std::lock_guard lock(served_mutex);
    std::string& page2 = pages[page_target("alice", 7, 2)];
    auto at = page2.find("thumbnail\">");
    ASSERT_NE(at, std::string::npos);
    page2.replace(at, 9, "THUMBNAIL");
  }
  int row = add_row("Seven", 7);
  download(row);
  EXPECT_EQ(requests_for("/photos/").size(), 2u);
  EXPECT_EQ(file_names(chosen / "Seven").size(), 16u);
}

TEST_F(AlbumDownload, AnAlbumWithoutPhotosOrPagesSavesNothing) {
  struct Case {
    const char* what;
    std::optional<demo::Answer> first_page;
  };
  demo::Answer no_photos;
  no_photos.body = "<html><body>nothing here</body></html>";
  demo::Answer server_error;
  server_error.status = 500;
  server_error.body = "<html>broken</html>";
  demo::Answer dropped;
  dropped.body = std::string(4000, 'x');
  dropped.drop_after = 100;
  for (const auto& c : {Case{"no photo markers", no_photos}, Case{"a server error", server_error},
                        Case{"a dropped page", dropped}}) {
    SCOPED_TRACE(c.what);
    set_fault([&](const demo::RequestRecord& request, int) -> std::optional<demo::Answer> {
      if (request.target.rfind("/photos/", 0) == 0) return c.first_page;
      return std::nullopt;
    });
    std::size_t requests_before = site.requests().size();
    std::size_t texts_before = window.status_history().size();
    int row = add_row("Empty", 9);
    download(row);
    auto texts = window.status_history();
    EXPECT_EQ(std::vector<std::string>(texts.begin() + static_cast<long>(texts_before), texts.end()),
              (std::vector<std::string>{"下载开始", "下载完成"}));
    EXPECT_EQ(site.requests().size(), requests_before + 1) << "only the first page";
    EXPECT_TRUE(fs::is_empty(chosen / "Empty"));
  }
}

TEST_F(AlbumDownload, PagesThatNeverEndAreReadOnlyUpToTheLimit) {
  app->download.limits.max_pages = 6;
  // Every page, however far, shows one photo and links to a next page.
  set_fault([this](const demo::RequestRecord& request, int) -> std::optional<demo::Answer> {
    if (request.target.rfind("/photos/", 0) != 0) return std::nullopt;
    demo::Answer page;
    page.body = thumbnail_page({"http://" + host + "/pic/90/1/square.jpg"},
                               "/photos/alice/albums/90/pageN/?style=thumbnail");
    return page;
  });
  add_album(90, 1);
  download(add_row("Endless", 90));
  EXPECT_EQ(requests_for("/photos/").size(), 6u);
  EXPECT_EQ(file_names(chosen / "Endless").size(), 6u) << "the photos of the pages read are saved";
  EXPECT_EQ(window.status_text(), "下载完成");
}

TEST_F(AlbumDownload, NeverMoreThanFiveAtOnceAndStartsAtLeast100msApart) {
  app->download.limits.final_pause = 2000ms;
  add_album(3, 12, 12, 20000);
  // Every transfer takes about 700 ms, so the five slots fill up.
  set_fault([](const demo::RequestRecord& request, int) -> std::optional<demo::Answer> {
    if (request.target.rfind("/pic/", 0) == 0) std::this_thread::sleep_for(700ms);
    return std::nullopt;
  });
  int row = add_row("Slow", 3);
  window.answer_folder_dialogs({chosen});
  run_album_download(*app, row);
  Clock::time_point finished_text;
  ASSERT_TRUE(window.wait_until([&] { return window.status_text() == "下载完成"; }, 60s));
  finished_text = Clock::now();
  ASSERT_TRUE(app->threads.wait_idle(60s));

  auto transfers = requests_for("/pic/");
  ASSERT_EQ(transfers.size(), 12u);
  EXPECT_EQ(site.max_concurrent_pictures(), 5);
  std::sort(transfers.begin(), transfers.end(),
            [](const auto& a, const auto& b) { return a.started < b.started; });
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    int in_flight = 0;
    for (std::size_t j = 0; j < i; ++j) in_flight += transfers[j].finished > transfers[i].started;
    EXPECT_LE(in_flight, 4) << "transfer " << i << " started while five were running";
    if (i > 0)
      EXPECT_GE(ms(transfers[i].started - transfers[i - 1].started), 100 - scheduling_noise_ms)
          << "between transfers " << i - 1 << " and " << i;
  }
  // The first five have free slots: they follow the schedule alone.
  EXPECT_GE(ms(transfers[4].started - transfers[0].started), 400 - scheduling_noise_ms);
  // The sixth waits for a free slot: it starts after the first transfer ended.
  EXPECT_GE(transfers[5].started, transfers[0].finished);
  // "下载完成" comes 2000 ms after the last start (its request follows the
  // start by the 100 ms wait before each attempt).
  EXPECT_GE(ms(finished_text - transfers.back().started), 1900 - scheduling_noise_ms);
  EXPECT_LE(ms(finished_text - transfers.back().started), 2600);
  EXPECT_EQ(file_names(chosen / "Slow").size(), 12u);
}

TEST_F(AlbumDownload, ADroppedTransferIsRetriedAndSucceedsOnTheThirdAttempt) {
  auto expected = add_album(11, 4, 8, 50000);
  const std::string flaky = picture_target(11, 3);
  set_fault([&](const demo::RequestRecord& request, int attempt) -> std::optional<demo::Answer> {
    if (request.target != flaky || attempt >= 3) return std::nullopt;
    demo::Answer broken;
    broken.body = expected[2];
    broken.drop_after = 12000;
    return broken;
  });
  int row = add_row("Flaky", 11);
  download(row);

  EXPECT_EQ(testing::read_file(chosen / "Flaky" / "00003.jpg"), expected[2]);
  EXPECT_EQ(file_names(chosen / "Flaky"),
            (std::vector<std::string>{"00001.jpg", "00002.jpg", "00003.jpg", "00004.jpg"}));
  auto tries = requests_for(flaky);
  ASSERT_EQ(tries.size(), 3u);
  for (std::size_t i = 1; i < tries.size(); ++i)
    EXPECT_GE(ms(tries[i].started - tries[i - 1].finished), 100 - scheduling_noise_ms)
        << "a wait comes before every attempt";
  auto done = completion_texts();
  EXPECT_EQ(std::count(done.begin(), done.end(), completion_text(3)), 1);
}

// Answers that never give a complete picture: three attempts, no completion
// text, no error page under the photo's name; the other photos are unharmed.
TEST_F(AlbumDownload, APhotoThatFailsThreeTimesIsGivenUp) {
  struct Case {
    const char* what;
    demo::Answer answer;
    std::optional<std::size_t> left_on_disk;  // nullopt: no file at all
  };
  auto answer_with = [](int status, std::string body, bool declare_length, std::optional<std::size_t> drop) {
    demo::Answer a;
    a.status = status;
    a.body = std::move(body);
    a.declare_length = declare_length;
    a.drop_after = drop;
    return a;
  };
  const std::string picture = picture_bytes(1, 1, 40000);
  const std::vector<Case> cases = {
      // What arrived of a broken transfer stays, as it arrived.
      {"dropped every time", answer_with(200, picture, true, 9000), 9000},
      // A complete body without a declared length cannot be checked: kept, not reported.
      {"no Content-Length", answer_with(200, picture, false, std::nullopt), 40000},
      {"404 with a body of its declared length", answer_with(404, "<html>Not Found</html>", true, std::nullopt),
       std::nullopt},
      {"500 without a length", answer_with(500, "<html>Internal error</html>", false, std::nullopt), std::nullopt},
      {"an empty 200", answer_with(200, "", true, std::nullopt), std::nullopt},
  };
  int album = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ++album;
    add_album(album, 6);
    const std::string bad = picture_target(album, 2);
    set_fault([&](const demo::RequestRecord& request, int) -> std::optional<demo::Answer> {
      if (request.target == bad) return c.answer;
      return std::nullopt;
    });
    std::string title = "Album " + std::to_string(album);
    std::size_t texts_before = window.status_history().size();
    download(add_row(title, album));

    EXPECT_EQ(requests_for(bad).size(), 3u) << "three attempts, no more";
    fs::path file = chosen / title / "00002.jpg";
    if (c.left_on_disk) {
      ASSERT_TRUE(fs::exists(file));
      EXPECT_EQ(fs::file_size(file), *c.left_on_disk);
    } else {
      EXPECT_FALSE(fs::exists(file)) << "the error page or an empty file was left as the photo";
    }
    auto texts = window.status_history();
    std::vector<std::string> this_job(texts.begin() + static_cast<long>(texts_before), texts.end());
    EXPECT_EQ(std::count(this_job.begin(), this_job.end(), completion_text(2)), 0);
    EXPECT_EQ(std::count(this_job.begin(), this_job.end(), completion_text(6)), 1) << "the slot was given back";
    EXPECT_EQ(this_job.back(), "下载完成");
    for (const char* other : {"00001.jpg", "00003.jpg", "00004.jpg", "00005.jpg", "00006.jpg"})
      EXPECT_EQ(fs::file_size(chosen / title / other), 30000u) << other;
  }
}

TEST_F(AlbumDownload, AnErrorAnswerFollowedByTheRealPictureKeepsOnlyThePicture) {
  auto expected = add_album(12, 2, 8, 30000);
  const std::string target = picture_target(12, 1);
  set_fault([&](const demo::RequestRecord& request, int attempt) -> std::optional<demo::Answer> {
    if (request.target != target || attempt > 1) return std::nullopt;
    demo::Answer error;
    error.status = 503;
    error.body = std::string(30000, 'e');  // exactly as long as the picture
    return error;
  });
  download(add_row("Twelve", 12));
  EXPECT_EQ(testing::read_file(chosen / "Twelve" / "00001.jpg"), expected[0]);
  EXPECT_EQ(requests_for(target).size(), 2u);
}

TEST_F(AlbumDownload, TakenNamesGetSuffixesAndASecondDownloadKeepsTheFirst) {
  auto expected = add_album(20, 3);
  fs::create_directories(chosen / "Twice" / "00002.jpg");  // a folder of that name counts as taken
  int row = add_row("Twice", 20);
  download(row);
  fs::path album = chosen / "Twice";
  EXPECT_EQ(file_names(album), (std::vector<std::string>{"00001.jpg", "00002-001.jpg", "00002.jpg", "00003.jpg"}));
  EXPECT_EQ(testing::read_file(album / "00002-001.jpg"), expected[1]);

  testing::write_file(album / "00001.jpg", "edited by the user");
  download(row);
  EXPECT_EQ(file_names(album), (std::vector<std::string>{"00001-001.jpg", "00001.jpg", "00002-001.jpg",
                                                         "00002-002.jpg", "00002.jpg", "00003-001.jpg",
                                                         "00003.jpg"}));
  EXPECT_EQ(testing::read_file(album / "00001.jpg"), "edited by the user");
  EXPECT_EQ(testing::read_file(album / "00001-001.jpg"), expected[0]);
  EXPECT_EQ(testing::read_file(album / "00002-002.jpg"), expected[1]);
  EXPECT_EQ(testing::read_file(album / "00003-001.jpg"), expected[2]);
}

TEST_F(AlbumDownload, HostileTitlesAndAddressesWriteNothingOutsideTheChosenFolder) {
  // Things outside the chosen folder that a careless download would hit.
  fs::create_directories(temp.path() / "outside" / "x");
  testing::write_file(temp.path() / "outside" / "keep.txt", "keep");
  testing::write_file(temp.path() / "escape.jpg", "keep");

  // Picture addresses whose last characters are separators, dots and
  // forbidden characters; the site answers every one with a picture.
  struct Odd {
    std::string ending;
    std::string name;  // the photo's file name
  };
  const std::vector<Odd> odd = {{"/a/..", "00001a"}, {"/b\\..", "00002b"}, {"/c:*?|", "00003"},
                                {"/d/../", "00004"}, {"/e<>|", "00005e"},   {"/f.jpg", "00006.jpg"}};
  std::vector<std::string> thumbnails;
  for (const auto& o : odd) thumbnails.push_back("http://" + host + "/odd" + o.ending);
  {
    std::lock_guard lock(served_mutex);
    pages[page_target("alice", 66, 1)] = thumbnail_page(thumbnails, "");
  }
  set_fault([](const demo::RequestRecord& request, int) -> std::optional<demo::Answer> {
    if (request.target.rfind("/photos/", 0) == 0) return std::nullopt;
    demo::Answer picture;
    picture.body = std::string(1234, 'p');
    return picture;
  });

  struct Case {
    std::string title;
    std::string folder;  // as it appears inside the chosen folder
  };
  const std::vector<Case> cases = {
      {"../../outside/x", ".._.._outside_x"},
      {"/tmp/escape", "_tmp_escape"},
      {"..", u8s(u8"相册66")},
      {"", u8s(u8"相册66")},
      {"C:\\Windows", "C__Windows"},
      {"CON", "_CON"},
      {"a*b?c|d. ", "a_b_c_d"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("title: " + c.title);
    auto before = listing(temp.path());
    download(add_row(c.title, 66));
    auto after = listing(temp.path());
    std::vector<std::string> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
    std::vector<std::string> removed;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(removed));
    EXPECT_TRUE(removed.empty()) << removed.front();
    ASSERT_FALSE(added.empty());
    for (const auto& entry : added)
      EXPECT_EQ(entry.rfind("chosen/" + c.folder + "/", 0), 0u) << "written outside the album folder: " << entry;
    fs::path album = chosen / c.folder;
    ASSERT_TRUE(fs::is_directory(album));
    for (const auto& o : odd) EXPECT_TRUE(fs::is_regular_file(album / o.name)) << o.ending;
  }
  EXPECT_EQ(testing::read_file(temp.path() / "outside" / "keep.txt"), "keep");
  EXPECT_EQ(testing::read_file(temp.path() / "escape.jpg"), "keep");
}

TEST_F(AlbumDownload, AnAlbumFolderThatCannotBeCreatedEndsTheJob) {
  add_album(30, 3);
  testing::write_file(chosen / "Blocked", "a file where the album folder would go");
  download(add_row("Blocked", 30));
  EXPECT_EQ(window.status_history(), (std::vector<std::string>{"无法创建相册文件夹"}));
  EXPECT_TRUE(site.requests().empty());
  EXPECT_EQ(testing::read_file(chosen / "Blocked"), "a file where the album folder would go");
}

TEST_F(AlbumDownload, ADoubleClickDuringAJobIsIgnoredAndTheJobKeepsItsAddresses) {
  add_album(50, 10, 4);  // three pages
  add_album(51, 2);
  add_album(50, 10, 4, 30000, "bob");
  // Page 1 is slow to come, so the second double click and the new address
  // arrive while the job is reading pages.
  std::atomic<bool> page_requested{false};
  set_fault([&](const demo::RequestRecord& request, int) -> std::optional<demo::Answer> {
    if (request.target == page_target("alice", 50, 1)) {
      page_requested = true;
      std::this_thread::sleep_for(400ms);
    }
    return std::nullopt;
  });
  int first = add_row("First", 50);
  int second = add_row("Second", 51);
  window.answer_folder_dialogs({chosen, chosen});
  run_album_download(*app, first);
  ASSERT_TRUE(window.wait_until([&] { return page_requested.load(); }, 10s));
  run_album_download(*app, second);
  {
    std::lock_guard lock(app->catalogue.mutex);
    app->catalogue.site_user = "bob";  // a new album address was accepted meanwhile
  }
  ASSERT_TRUE(app->threads.wait_idle(60s));

  EXPECT_EQ(window.folder_dialogs().size(), 1u) << "the second double click was not ignored";
  EXPECT_FALSE(fs::exists(chosen / "Second"));
  EXPECT_TRUE(requests_for("/photos/bob/").empty()) << "the running job changed its page addresses";
  EXPECT_EQ(requests_for("/photos/alice/albums/50/").size(), 3u);
  EXPECT_EQ(file_names(chosen / "First").size(), 10u);

  // Once the job has ended, the next double click works.
  {
    std::lock_guard lock(app->catalogue.mutex);
    app->catalogue.site_user = "alice";
  }
  download(second);
  EXPECT_EQ(file_names(chosen / "Second").size(), 2u);
}

// A job does not wait for its workers, so a later job can start while an
// earlier job's photos still arrive: each keeps its own folder and count.
TEST_F(AlbumDownload, AnEarlierJobsWorkersDoNotDisturbALaterJob) {
  app->download.limits.final_pause = 100ms;
  add_album(60, 2);
  add_album(61, 12);
  set_fault([](const demo::RequestRecord& request, int) -> std::optional<demo::Answer> {
    if (request.target.rfind("/pic/60/", 0) == 0) std::this_thread::sleep_for(2500ms);
    return std::nullopt;
  });
  window.answer_folder_dialogs({chosen, chosen});
  run_album_download(*app, add_row("Early", 60));
  // The early job ends while its workers still wait for their pictures.
  ASSERT_TRUE(window.wait_until([&] { return window.status_text() == "下载完成"; }, 30s));
  ASSERT_TRUE(window.wait_until([&] { return !app->download.job_running.load(); }, 10s));
  run_album_download(*app, add_row("Late", 61));
  ASSERT_TRUE(app->threads.wait_idle(60s));

  EXPECT_EQ(file_names(chosen / "Early").size(), 2u);
  EXPECT_EQ(file_names(chosen / "Late").size(), 12u);
  // The late job ran its own five at a time, beside the early job's workers.
  auto late = requests_for("/pic/61/");
  ASSERT_EQ(late.size(), 12u);
  for (const auto& request : late) {
    int in_flight = 0;
    for (const auto& other : late) in_flight += other.started <= request.started && other.finished > request.started;
    EXPECT_LE(in_flight, 5);
  }
  auto early = requests_for("/pic/60/");
  ASSERT_EQ(early.size(), 2u);
  EXPECT_LT(late.front().started, early.back().finished) << "the late job waited for the early job's workers";
}

// The second job starts while the first job's pictures have not arrived,
// so their files are not on disk yet: the names are still taken.
TEST_F(AlbumDownload, TwoJobsIntoOneFolderAtOnceNeverShareAFile) {
  app->download.limits.final_pause = 100ms;
  auto expected = add_album(62, 3);
  set_fault([](const demo::RequestRecord& request, int attempt) -> std::optional<demo::Answer> {
    if (request.target.rfind("/pic/", 0) == 0 && attempt == 1) std::this_thread::sleep_for(1500ms);
    return std::nullopt;
  });
  int row = add_row("Same", 62);
  window.answer_folder_dialogs({chosen, chosen});
  run_album_download(*app, row);
  ASSERT_TRUE(window.wait_until([&] { return window.status_text() == "下载完成"; }, 30s));
  ASSERT_TRUE(window.wait_until([&] { return !app->download.job_running.load(); }, 10s));
  ASSERT_FALSE(fs::exists(chosen / "Same" / "00001.jpg")) << "the first picture came too early for this test";
  run_album_download(*app, row);
  ASSERT_TRUE(app->threads.wait_idle(60s));

  fs::path album = chosen / "Same";
  EXPECT_EQ(file_names(album), (std::vector<std::string>{"00001-001.jpg", "00001.jpg", "00002-001.jpg",
                                                         "00002.jpg", "00003-001.jpg", "00003.jpg"}));
  for (int photo = 1; photo <= 3; ++photo) {
    char name[16];
    std::snprintf(name, sizeof name, "%05d", photo);
    EXPECT_EQ(testing::read_file(album / (std::string(name) + ".jpg")), expected[photo - 1]) << name;
    EXPECT_EQ(testing::read_file(album / (std::string(name) + "-001.jpg")), expected[photo - 1]) << name;
  }
}

TEST_F(AlbumDownload, AWorkerThreadThatCannotStartGivesItsSlotBack) {
  add_album(70, 8);
  // The job's own thread starts; then the system refuses the first five
  // worker threads. Holding on to their slots would stall the job for ever.
  set_fault([this](const demo::RequestRecord& request, int) -> std::optional<demo::Answer> {
    if (request.target == page_target("alice", 70, 1)) app->threads.refuse_next_starts(5);
    return std::nullopt;
  });
  download(add_row("Refused", 70));
  EXPECT_EQ(window.status_text(), "下载完成");
  EXPECT_EQ(file_names(chosen / "Refused"), (std::vector<std::string>{"00006.jpg", "00007.jpg", "00008.jpg"}));
}

TEST_F(AlbumDownload, AJobThreadThatCannotStartLeavesNothingBehind) {
  add_album(71, 2);
  int row = add_row("Later", 71);
  app->threads.refuse_next_starts(1);
  download(row);
  EXPECT_TRUE(window.status_history().empty());
  download(row);
  EXPECT_EQ(file_names(chosen / "Later").size(), 2u);
}

TEST_F(AlbumDownload, StoppingEndsAJobAtOnce) {
  app->download.limits.final_pause = 2000ms;
  add_album(80, 40);
  window.answer_folder_dialogs({chosen});
  run_album_download(*app, add_row("Stopped", 80));
  ASSERT_TRUE(window.wait_until([&] { return completion_texts().size() >= 3; }, 30s));
  auto stop_at = Clock::now();
  stop_album_downloads(*app);
  ASSERT_TRUE(app->threads.wait_idle(2s)) << "the job or its workers kept running";
  EXPECT_LT(ms(Clock::now() - stop_at), 1000);
  EXPECT_NE(window.status_text(), "下载完成");
  EXPECT_LT(requests_for("/pic/").size(), 40u);
}

// The album site's own pages, as the demo site writes them.
TEST(AlbumDownloadFromTheDemoSite, SavesTheDemoAlbum) {
  demo::SiteContent content = demo::SiteContent::demo();
  ASSERT_FALSE(content.users.empty());
  const demo::DemoUser& user = content.users.front();
  ASSERT_FALSE(user.albums.empty());
  const demo::DemoAlbum* album = &user.albums.front();
  for (const auto& candidate : user.albums)
    if (candidate.photos.size() > album->photos.size()) album = &candidate;
  demo::DemoSite site(content);
  ASSERT_TRUE(site.start());
  testing::TempDir temp;
  testing::RecordingWindow window;
  std::string host = "127.0.0.1:" + std::to_string(site.port());
  {
    Application app(window, Hosts{host, host}, ProgramFiles{temp.path() / "velmora", temp.path()});
    app.catalogue.site_user = user.name;
    app.download.limits.final_pause = 100ms;
    int row = window.append_album("Demo", album->number);
    window.answer_folder_dialogs({temp.path()});
    run_album_download(app, row);
    ASSERT_TRUE(app.threads.wait_idle(60s));
  }
  ASSERT_TRUE(fs::is_directory(temp.path() / "Demo"));
  auto names = file_names(temp.path() / "Demo");
  ASSERT_EQ(names.size(), album->photos.size());
  for (std::size_t i = 0; i < album->photos.size(); ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%05zu", i + 1);
    std::string file = name + picture_extension(album->photos[i].picture_path);
    EXPECT_EQ(testing::read_file(temp.path() / "Demo" / file), album->photos[i].jpeg) << file;
  }
}

}  // namespace
}  // namespace velmora
