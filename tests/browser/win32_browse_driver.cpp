#include "tests/browser/win32_browse_driver.h"

#include <fstream>
#include <sstream>

#include "config/macros.h"
#include "core/vpi_main.h"
#include "tests/browser/browse_fixture.h"

namespace browsetest {

struct BrowseDriver : BrowseFixture {
  void TestBody() override {}
  using BrowseFixture::Buffer;
  using BrowseFixture::buffer_;
  using BrowseFixture::PendingName;
  using BrowseFixture::PendingValue;
  using BrowseFixture::request_;
  using BrowseFixture::StartDriver;
  using BrowseFixture::TearDown;
};

BrowseDriver* StartBrowseDriver() {
  auto* driver = new BrowseDriver;
  driver->StartDriver();
  return driver;
}

void StopBrowseDriver(BrowseDriver* driver) {
  driver->TearDown();
  delete driver;
}

uint32_t BrowseThroughVpiMain(BrowseDriver* driver, std::string* address) {
  std::memset(driver->buffer_, 'Z', sizeof driver->buffer_);
  driver->buffer_[sizeof driver->buffer_ - 1] = '\0';
  BrowseParams params{driver->buffer_};
  VpiRequest request{};
  request.command = kBrowseAddress;
  request.instanceNumber = 1;
  request.params = &params;
  uint32_t result = VpiMain(&request);
  *address = driver->Buffer();
  return result;
}

std::string DriverLog() {
  std::string text;
  for (const kesthost::LogLine& line : kesthost::Log()) {
    text += "[" + std::to_string(line.level) + "] " + line.text + "\n";
  }
  return text;
}

std::string PendingName(BrowseDriver* driver) {
  return driver->PendingName();
}

std::string PendingValue(BrowseDriver* driver) {
  return driver->PendingValue();
}

std::string TakeOverPendingMacro(BrowseDriver* driver) {
  AddMacro(driver->PendingName(), driver->PendingValue(), &driver->request_);
  std::ifstream in("TELMAR01.int", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace browsetest
