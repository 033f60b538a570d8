#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

// What the album catalogue keeps between events.
struct CatalogueState {
  std::mutex mutex;            // guards album_address, site_user and cover_urls
  std::string album_address;   // the address of the last accepted check
  std::string site_user;       // the site user found in it; empty after a rejected address
  std::vector<std::string> cover_urls;  // one per row of album_list, same order
  std::atomic<bool> scraping{false};    // an album list scrape is running
};

}  // namespace velmora
