#include "address/address_options.h"
#include "tests/address/address_fixture.h"

namespace {

using OptionsTest = AddressTest;

TEST_F(OptionsTest, GetOptionsTakesTheFirstMonitorAndFormatOption) {
  const struct {
    const char* options;
    int rc, monitorMode, boundOpt;  // boundOpt 99: not set
    VARTYPE formatType;
    const char* error;
  } cases[] = {
      {"/M:p", 0, 1, 99, 0, nullptr},
      {"/M:c", 0, 2, 2, 0, nullptr},
      {"/M:a", 0, 2, 5, 0, nullptr},
      {"/F:d", 0, 0, 99, 11, nullptr},
      {"/F:b", 0, 0, 99, 0x2011, nullptr},
      {"/F:r /M:i", 0, 2, 3, 4, nullptr},
      {"/M:e x/F:w/M:x/F:q", 0, 2, 4, 8, nullptr},
      {"/m:p/f:r", 0, 0, 99, 0, nullptr},
      {"/M:P", 1, 0, 99, 0, "telMAR: GetOptions '/M:P' fail, wronge monitor options = 'P'"},
      {"/F:r/M:", 1, 0, 99, 0, "wronge monitor options"},
      {"/M:x/F:q", 1, 0, 99, 0, "wronge monitor options = 'x'"},
      {"/M:b/F:q", 1, 2, 1, 0,
       "telMAR: GetOptions '/M:b/F:q' fail, wronge DS format options = 'q'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    kesthost::ClearLog();
    int monitorMode = 77, boundOpt = 99;
    VARTYPE formatType = 77;
    EXPECT_EQ(GetOptions(c.options, monitorMode, boundOpt, formatType), c.rc);
    EXPECT_EQ(monitorMode, c.monitorMode);
    EXPECT_EQ(boundOpt, c.boundOpt);
    EXPECT_EQ(formatType, c.formatType);
    std::vector<std::string> errors = Errors();
    ASSERT_EQ(errors.size(), c.error ? 1u : 0u);
    if (c.error) {
      EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
    }
  }
}

TEST_F(OptionsTest, SplitAndMacroExpansion) {
  std::string lon = " \tA.B /M:p /F:r \n", options = "stale";
  EXPECT_EQ(SplitOptions(&request_, lon, options), 1);
  EXPECT_EQ(lon + "|" + options, "A.B|/M:p /F:r");
  lon = "  A.B  ";
  EXPECT_EQ(SplitOptions(&request_, lon, options), 0);
  EXPECT_EQ(lon + "|" + options, "A.B|");
  EXPECT_EQ(kesthost::LogCount("SplitOptions"), 1u);

  inst_->macros.Set("#001", "A/B");
  const struct {
    char delimiter;
    const char* in;
    int rc;
    const char* out;  // lonPart on success, the level-32 line otherwise
  } cases[] = {
      {'.', "#001.C.#001.D", 0, "A/B.C.#001.D"},
      {':', "#001:C.D", 0, "A/B:C.D"},
      {'.', "#001", 1, "TelMAR: ParseMacro() fail, delimiter not found '#001'"},
      {'#', "#001#C", 1, "TelMAR: ParseMacro() fail, delimiter not found '#001#C'"},
      {'.', "#00.C", 1, "TelMAR: ParseMacro() macro '#00' not found '#00.C'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    kesthost::ClearLog();
    inst_->delimiter = c.delimiter;
    std::string lonPart = c.in, name = "stale", value = "stale";
    ASSERT_EQ(ParseMacro(&request_, lonPart, name, value), c.rc);
    if (c.rc == 0) {
      EXPECT_EQ(lonPart, c.out);
      EXPECT_EQ(name + "=" + value, "#001=A/B");
    } else {
      EXPECT_EQ(Errors(), std::vector<std::string>{c.out});
      EXPECT_EQ(value, "");
    }
  }
}

TEST_F(NetworkTest, SpecialGatesNeedTheirTypeAndNothingElse) {
  std::strcpy(share_.pendingName, "#P");
  std::strcpy(share_.pendingValue, "Building");
  const struct {
    const char* address;
    uint32_t type, rc, bindingWord;
  } cases[] = {
      {"!servicepin", 7, 0, 0x0104},
      {"!BROWSE", 1, 0, 0x0204},
      {"!ServicePin", 1, 1, 0},
      {"!Browse", 0, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    GateAddressParams p;
    EXPECT_EQ(Parse(c.address, 5, c.type, &p), c.rc);
    EXPECT_EQ(p.bindingWord, c.bindingWord);
    EXPECT_EQ(p.nodeValue, 0);
    EXPECT_EQ(p.nvItem, nullptr);
    EXPECT_EQ(p.result32, 32u);
  }
  EXPECT_EQ(Errors().back(), "TelMAR: SingleAddressParser fail, wrong type (addr = '!Browse')");
  EXPECT_EQ(lonsim::CallCount("IsFound"), 0);
  EXPECT_STREQ(share_.pendingName, "#P");  // left for the next network parse
  EXPECT_EQ(FindSpecialGate("!ServicePinX"), 0);
}

TEST_F(NetworkTest, FailuresLogTheirLinesInOrder) {
  inst_->macros.Set("#R", kRoom);
  const struct {
    const char* address;
    std::vector<std::string> errors;
  } cases[] = {
      {" !Browse /M:p", {"TelMAR: SingleAddressParser fail, '!Browse' not found in Lon tree"}},
      {"/M:p", {"TelMAR: SingleAddressParser fail, '' not found in Lon tree"}},
      {"X.Y/M:P",
       {"telMAR: GetOptions '/M:P' fail, wronge monitor options = 'P'",
        "TelMAR: SingleAddressParser fail on GetOptions() 'X.Y'"}},
      {"#r.x",
       {"TelMAR: ParseMacro() macro '#r' not found '#r.x'",
        "TelMAR: SingleAddressParser fail on ParseMacro() '.x'"}},
      {"#R.Thermostat",
       {"TelMAR: SingleAddressParser fail, '" + kRoom + ".Thermostat' not NV, NVF or appDevice"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    kesthost::ClearLog();
    GateAddressParams p;
    EXPECT_EQ(Parse(c.address, 9, 1, &p), 1u);
    ExpectInitialOutFields(p);
    EXPECT_EQ(kesthost::Log().at(0).text,
              "TelMAR: SingleAddressParser enter, (addr = '" + std::string(c.address) + "')");
    EXPECT_EQ(Errors(), c.errors);
  }
  EXPECT_TRUE(inst_->bindingMap.Empty());
}

TEST_F(NetworkTest, PendingMacroIsTakenOnceBeforeTheAddressIsExpanded) {
  DefineGate(6, 3);
  std::strcpy(share_.pendingName, "#P");
  std::strcpy(share_.pendingValue, kRoom.c_str());
  EXPECT_EQ(Parse("#P.nvoSpaceTemp", 6, 3), 0u);
  EXPECT_EQ(share_.pendingName[0] | share_.pendingValue[0], 0);
  EXPECT_TRUE(inst_->macros.Contains("#P"));
  EXPECT_EQ(Parse("#P.nvoSpaceTemp", 6, 3), 0u);
  EXPECT_EQ(kesthost::LogCount("AddMacro"), 1u);

  // A failing parse takes it too. A field that fills its 256 bytes without a NUL (a writer cut
  // short, or a foreign one) is refused whole, never cut into a macro of 255 characters.
  const size_t macros = inst_->macros.Count();
  for (bool nameFull : {false, true}) {
    kesthost::ClearLog();
    std::strcpy(share_.pendingName, "#Q");
    std::strcpy(share_.pendingValue, kRoom.c_str());
    char* full = nameFull ? share_.pendingName : share_.pendingValue;
    std::memset(full, nameFull ? '#' : 'v', sizeof(share_.pendingName));
    EXPECT_EQ(Parse("No.Such", 6, 3), 1u);
    EXPECT_EQ(inst_->macros.Count(), macros);
    EXPECT_EQ(kesthost::LogCount("AddMacro"), 0u);
    EXPECT_EQ(Errors().at(0), std::string("TelMAR: pending macro refused: ") +
                                  (nameFull ? "pendingName" : "pendingValue") +
                                  " fills its 256 bytes without a terminating NUL");
    EXPECT_EQ(share_.pendingName[0] | share_.pendingValue[0], 0);
  }
}

TEST_F(AddressTest, WithoutNetworkOrAddressTheParseFailsCleanly) {
  GateAddressParams p;
  EXPECT_EQ(Parse(kSpaceTemp, 3, 3, &p), 1u);
  ExpectInitialOutFields(p);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0].rfind("TelMAR: ", 0), 0u);
  EXPECT_NE(Errors()[0].find(kSpaceTemp), std::string::npos);
  EXPECT_EQ(Parse("!Browse", 4, 1, &p), 0u);  // special gates need no network

  kesthost::ClearLog();
  std::strcpy(share_.pendingValue, "Building");
  EXPECT_EQ(Parse("", 8, 1, &p, /*nullAddress=*/true), 1u);
  ExpectInitialOutFields(p);
  EXPECT_EQ(Errors().size(), 1u);
  EXPECT_EQ(kesthost::Log().size(), 1u);
  EXPECT_STREQ(share_.pendingValue, "Building");

  std::memset(&p, 0xA5, sizeof(p));
  GateAddressParams before = p;
  request_.params = &p;
  EXPECT_EQ(BlockAddressParser(&request_), 1u);
  EXPECT_EQ(std::memcmp(&p, &before, sizeof(p)), 0);
  EXPECT_EQ(Errors().back(), "TelMAR: BlockParse() no blocks supported");
}

}  // namespace
