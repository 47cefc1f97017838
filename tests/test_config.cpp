// The configuration file: hexadecimal conversion and the line rules of a
// file read as the Windows C runtime reads text.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "config/config.h"
#include "config/fault_spec.h"
#include "config/rig.h"
#include "config/rig_pieces.h"
#include "config/rig_text.h"
#include "tests/hex.h"

using testhex::str;
using namespace vdx;

namespace {

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override {
        resetConfig();
        dir_ = (std::filesystem::temp_directory_path() / ("vdxcfg." + std::to_string(std::random_device()()))).string();
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path() const { return dir_ + "/VDXconfig.txt"; }
    void write(const std::string& content) {
        FILE* f = std::fopen(path().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
    std::string dir_;
};

}  // namespace

TEST(HexToBytes, DigitsPairsAndBadCharacters) {
    uint8_t out[8];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(hexToBytes("0A1b", out, 8), 2);
    EXPECT_EQ(str(out, 3), "0A1BEE");
    EXPECT_EQ(hexToBytes("ABC", out, 8), 1);
    EXPECT_EQ(str(out, 2), "AB1B");
    EXPECT_EQ(hexToBytes("G1", out, 8), 1);
    EXPECT_EQ(out[0], 0x01);
    EXPECT_EQ(hexToBytes("", out, 8), 0);
    EXPECT_EQ(out[0], 0x01);
    EXPECT_EQ(hexToBytes("zz-+ F f", out, 8), 4);
    EXPECT_EQ(str(out, 4), "00000F0F");
}

TEST(HexToBytes, NeverWritesPastTheDestination) {
    uint8_t out[10];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(hexToBytes("0102030405060708090A0B0C", out, 8), 8);
    EXPECT_EQ(str(out, 10), "0102030405060708EEEE");
    EXPECT_EQ(hexToBytes(std::string(255, 'F').c_str(), out, 0), 0);
    EXPECT_EQ(out[0], 0x01);
}

TEST_F(ConfigFile, AddressesKeysAndBlankLines) {
    write(
        "0102030405060708\n\nZZ\n0102030405060708FFFF\n\n\n\n\n\n\n"
        "000102030405060708090A0B0C0D0E0F\n"
        "\n"
        "ffeeddccbbaa99887766554433221100\n");
    ASSERT_TRUE(readConfigFileFrom(path().c_str()));
    loadKeyTable();
    EXPECT_STREQ(configLines[0], "0102030405060708");
    EXPECT_STREQ(configLines[1], "") << "blank lines are kept in place";
    EXPECT_STREQ(configLines[2], "ZZ");
    EXPECT_STREQ(configLines[3], "0102030405060708FFFF");
    EXPECT_EQ(str(keyTable[0], 16), "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(str(keyTable[1], 16), std::string(32, '0'));
    EXPECT_EQ(str(keyTable[2], 16), "FFEEDDCCBBAA99887766554433221100");
    EXPECT_STREQ(configLines[13], "");
    EXPECT_EQ(str(keyTable[9], 16), std::string(32, '0'));
}

TEST_F(ConfigFile, LastLineWithoutLineFeedKeepsItsLastCharacter) {
    std::string content(10, '\n');
    content += "000102030405060708090A0B0C0D0E0F";  // key of meter 0, no final LF (as Notepad saves)
    write(content);
    ASSERT_TRUE(readConfigFileFrom(path().c_str()));
    loadKeyTable();
    EXPECT_STREQ(configLines[10], "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(str(keyTable[0], 16), "000102030405060708090A0B0C0D0E0F") << "the key as written";
}

TEST_F(ConfigFile, LongLinesAreReadIn255CharacterPieces) {
    const std::string a255(254, 'A');
    // 255 characters: all of them, then an empty line; the next line moves down
    write(a255 + "B\nnext\n" + std::string(600, 'C') + "\nlast\n");
    ASSERT_TRUE(readConfigFileFrom(path().c_str()));
    EXPECT_EQ(std::string(configLines[0]), a255 + "B");
    EXPECT_STREQ(configLines[1], "");
    EXPECT_STREQ(configLines[2], "next");
    EXPECT_EQ(std::string(configLines[3]), std::string(255, 'C'));
    EXPECT_EQ(std::string(configLines[4]), std::string(255, 'C'));
    EXPECT_EQ(std::string(configLines[5]), std::string(90, 'C')) << "600 = 255 + 255 + 90, then the line feed";
    EXPECT_STREQ(configLines[6], "last");
}

TEST_F(ConfigFile, WindowsTextModeLineEnds) {
    // CR LF arrives as LF; a lone CR stays; Ctrl+Z ends the file
    write(
        "0102030405060708\r\nAB\rCD\r\n\r\nEF\x1A"
        "0102\n");
    ASSERT_TRUE(readConfigFileFrom(path().c_str()));
    EXPECT_STREQ(configLines[0], "0102030405060708");
    EXPECT_STREQ(configLines[1], "AB\rCD");
    EXPECT_STREQ(configLines[2], "");
    EXPECT_STREQ(configLines[3], "EF") << "the last line before Ctrl+Z has no line feed";
    EXPECT_STREQ(configLines[4], "");
}

TEST_F(ConfigFile, NulBytesAndMoreThanTwentyLines) {
    std::string content("\0abc\n", 5);
    for (int i = 1; i < 25; ++i) content += "L" + std::to_string(i) + "\n";
    write(content);
    ASSERT_TRUE(readConfigFileFrom(path().c_str()));
    EXPECT_STREQ(configLines[0], "") << "a line starting with NUL is empty, nothing before it is touched";
    EXPECT_STREQ(configLines[19], "L19");
}

TEST_F(ConfigFile, MissingFileAndDefaultName) {
    std::memset(configLines, 'x', sizeof configLines);
    std::string problem;
    EXPECT_FALSE(readConfigFileFrom((dir_ + "/absent.txt").c_str(), &problem));
    for (const auto& line : configLines) EXPECT_STREQ(line, "");
    EXPECT_EQ(problem, "cannot read " + dir_ + "/absent.txt: No such file or directory");

    write("1234\n");
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    readConfigFile();
    EXPECT_STREQ(configLines[0], "1234");
    std::remove(path().c_str());
    EXPECT_FALSE(readConfigFile(&problem));
    loadKeyTable();
    std::filesystem::current_path(old);
    EXPECT_EQ(problem.rfind("cannot read " + dir_, 0), 0u) << "says where it looked: " << problem;
    EXPECT_NE(problem.find("VDXconfig.txt: No such file or directory"), std::string::npos) << problem;
    EXPECT_STREQ(configLines[0], "");
    EXPECT_EQ(str(keyTable[0], 16), std::string(32, '0'));
}

#ifdef __linux__
// Only a regular file is read: a directory, a FIFO nobody writes to and an
// endless device neither block start-up nor fill the meters.
TEST_F(ConfigFile, OnlyARegularFileIsRead) {
    const std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {dir_, "Is a directory"}, {fifo, "not a regular file"}, {"/dev/zero", "not a regular file"}};
    for (const auto& [file, why] : cases) {
        std::string problem;
        EXPECT_FALSE(readConfigFileFrom(file.c_str(), &problem)) << file;
        EXPECT_EQ(problem, "cannot read " + file + ": " + why);
    }
}
#endif

// A rig file: the keys of the example, defaults where a key is left out.
TEST(RigFile, KeysAndDefaults) {
    Rig rig;
    std::string error;
    ASSERT_TRUE(parseRig(R"(readings = "fixed"
stick = "VX00010042"  # Zähler im Labor, a comment in the user's language
[schedule]
mode = "each"
interval = 30
gap = 0.25
[clock]
start = "2026-01-31T23:50:00+01:00"
speed = 60.0
[[meter]]
address = "9858705634120103"
key = "000102030405060708090a0b0c0d0e0f"
security = "mode5"
interval = 60.0
offset = 1.5
radio = "s1"
readings = "live"
volume = 12.5
volume_uncorrected = 12
flow = 0.3
battery_days = 3650
fabrication = "00011718"
error_flags = 0x00000001
events = [ { at = 2026-02-01T06:00:00Z, error_flags = 0x10 }, { at = "2026-02-01T05:00:00Z", error_flags = 2 } ]
[[meter]]
address = "9858715634120103"
)",
                         "rig.toml", &rig, &error))
        << error;
    EXPECT_EQ(rig.stick, "VX00010042");
    EXPECT_EQ(rig.schedule, ScheduleMode::Each);
    EXPECT_EQ(rig.gap, 0.25);
    EXPECT_FALSE(rig.startNow);
    EXPECT_EQ(rig.start, 1769899800) << "22:50 UTC";
    ASSERT_EQ(rig.meters.size(), 2u);
    const SimMeter& m = rig.meters[0];
    EXPECT_EQ(str(m.record.manufacturer, 8), "9858705634120103");
    EXPECT_EQ(str(m.key, 16), "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(m.security, Security::Mode5);
    EXPECT_TRUE(m.live) << "the meter's own choice wins";
    EXPECT_EQ(m.readings.volumeUncorrected, 12.0) << "a whole number serves as a volume";
    EXPECT_EQ(m.readings.fabrication, 11718u);
    ASSERT_EQ(m.readings.events.size(), 2u);
    EXPECT_EQ(m.readings.events[0].second, 2u) << "events in time order";
    EXPECT_EQ(rig.meterInterval[0], 60.0);
    EXPECT_EQ(rig.meterOffset[0], 1.5);
    EXPECT_TRUE(rig.meterRadio[0] == RadioMode::S1 && !rig.meterRadio[1]) << "no radio: the tool's --mode";
    const SimMeter& plain = rig.meters[1];
    EXPECT_EQ(plain.security, Security::None) << "no key: plain";
    EXPECT_FALSE(plain.live);
    EXPECT_EQ(plain.readings.volume, 0.126);
    EXPECT_EQ(plain.readings.errorFlags, 0x00419199u);
    EXPECT_EQ(rig.meterInterval[1], 0.0) << "the schedule's";
}

// Bad rig files: one message with the file, line and column and what is
// wrong; nothing is taken from them. Settings that would have no effect are
// refused; nesting that would make toml++ recurse without bound never
// reaches it.
TEST(RigFile, ErrorsNameFileLineAndColumn) {
    const std::string m = "[[meter]]\naddress = \"9858705634120103\"\n", live = "readings = \"live\"\n";
    const std::string w = m.substr(0, m.size() - 4) + "07\"\nprofile = \"water\"\n";  // a water meter
    std::string huge = w + "records = [\n";  // refused before toml++ builds its tables
    for (int i = 0; i < 100000; ++i) huge += "{dif=\"04\",vif=\"13\",value=1},\n";
    huge += "]\n";
    const std::string rec = w + "records = [ { quantity = \"volume\", ";
    std::string big = m + "records = [\n";
    for (int i = 0; i < 30; ++i)
        big += "  { quantity = \"volume\", digits = 12, decimals = 3, value = \"register\" },\n";
    big += "]\n";
    const std::string each = "[schedule]\nmode = \"each\"\n", deep =
                                                                  "nested deeper than 32 levels (table headers, "
                                                                  "dotted keys, arrays and inline tables)";
    const std::string when = "a time such as \"2026-01-31T23:50:00Z\", from 2000 to 2099";
    std::string dotted = "a", arrays = "x = ", header = "[a", dots33;
    for (int i = 0; i < 40; ++i) dotted += ".a", arrays += "[", header += ".a";
    for (int i = 0; i < 32; ++i) dots33 += "a.";
    const struct {
        std::string text, message;
    } cases[] = {
        {"", "r.toml:1:1: a rig needs at least one [[meter]] table"},
        {"colour = 1\n" + m, "r.toml:1:1: unknown key \"colour\""},
        {m + "volum = 1\n", "r.toml:3:1: unknown key \"volum\""},
        {"[[meter]]\naddress = \"98587056341201\"\n", "r.toml:2:11: address: wrong length, 16 hexadecimal digits"},
        {"[[meter]]\naddress = \"98587056341201XY\"\n", "r.toml:2:11: address: bad hex digit 'X'"},
        {m + "key = \"0011\"\n", "r.toml:3:7: key: wrong length, 32 hexadecimal digits"},
        {m + m, "r.toml:4:11: duplicate address 9858705634120103"},
        {m + "security = \"mode5\"\n", "r.toml:3:12: mode5 needs the meter's key"},
        {m + "security = \"mode6\"\n", "r.toml:3:12: security must be \"none\", \"mode5\", \"mode7\" or \"ell-ctr\""},
        {each + m + "interval = 0\n", "r.toml:5:12: interval must be from 0.01 to 3.1536e+07"},
        {m + "radio = \"t2\"\n", "r.toml:3:9: radio must be s1, s2, t1, r2, c1, f or n"},
        {"[schedule]\ninterval = 0.0\n" + m, "r.toml:2:12: interval must be from 0.01 to 3.1536e+07"},
        {"[schedule]\nmode = \"round\"\n" + m, "r.toml:2:8: schedule mode must be \"turns\" or \"each\""},
        {"[clock]\nstart = \"2026-02-30T00:00:00Z\"\n" + m, "r.toml:2:9: " + when},
        {"[clock]\nstart = \"yesterday\"\n" + m, "r.toml:2:9: " + when},
        {"[clock]\nstart = \"2026-01-31T23:30:-5Z\"\n" + m, "r.toml:2:9: " + when},
        {"[clock]\nstart = \"2026-01-31T23:30:00+-1:00\"\n" + m, "r.toml:2:9: " + when},
        {"[clock]\nstart = \"2026-1-31T23:30:00Z\"\n" + m, "r.toml:2:9: " + when},
        {"[clock]\nstart = \"2026-01-31T23:30:00+01\"\n" + m, "r.toml:2:9: " + when},
        {"[clock]\nstart = 2026-01-31T23:50:00\n" + m, "r.toml:2:9: a time needs its offset from UTC (Z)"},
        {"[clock]\nspeed = -1\n" + m, "r.toml:2:9: speed must be from 1e-06 to 1e+06"},
        {"[clock]\nstart = \"2026-01-31T23:50:00Z\"\n" + m,
         "r.toml:2:9: start has no effect with readings = \"fixed\" on every meter (the fixed block carries its own "
         "date; readings = \"live\" uses the clock)"},
        {"[clock]\nspeed = 60\n" + m,
         "r.toml:2:9: speed has no effect with readings = \"fixed\" on every meter (the fixed block carries its own "
         "date; readings = \"live\" uses the clock)"},
        {live + "[clock]\nstart = 2026-01-31T23:30:00.5+01:00\n" + m,
         "r.toml:3:9: a time in whole seconds (the meter clock counts seconds)"},
        {each + m + "interval = 0.0149\n",
         "r.toml:5:12: interval must be whole milliseconds (the schedule counts milliseconds)"},
        {each + "gap = 0.0004\n" + m, "r.toml:3:7: gap must be whole milliseconds (the schedule counts milliseconds)"},
        {live + m + "battery_days = 10000\n", "r.toml:4:16: battery_days must be from 0 to 9999"},
        {live + m + "fabrication = \"8801171\"\n", "r.toml:4:15: fabrication must be 8 digits"},
        {live + m + "error_flags = 0x100000000\n", "r.toml:4:15: error_flags must be from 0 to 4294967295"},
        {live + m + "events = [ { at = \"2026-02-01T06:00:00Z\" } ]\n",
         "r.toml:4:12: an event needs \"at\" and \"error_flags\" or \"status\""},
        {live + m + "volume = \"lots\"\n", "r.toml:4:10: expected a number: volume"},
        {m + "flow = 0.3\n",
         "r.toml:3:8: flow has no effect with readings = \"fixed\" (the fixed block goes out as it is; readings = "
         "\"live\" uses it)"},
        {live + m + "readings = \"fixed\"\nevents = []\n",
         "r.toml:5:10: events has no effect with readings = \"fixed\" (the fixed block goes out as it is; "
         "readings = \"live\" uses it)"},
        {m + "offset = 30\n", "r.toml:3:10: offset has no effect in schedule mode \"turns\" (mode = \"each\" uses it)"},
        {"[schedule]\ngap = 0.2\n" + m,
         "r.toml:2:7: gap has no effect in schedule mode \"turns\" (mode = \"each\" uses it)"},
        {m + dotted + " = 1\n", "r.toml:3:62: " + deep},
        {arrays + "\n" + m, "r.toml:1:37: " + deep},
        {header + "]\n" + m, "r.toml:1:65: " + deep},
        // a multi-line string may end in four or five quotes: the last three close it
        {"x = { s = \"\"\"a\"\"\"\", " + dots33 + "b = 1 }\n" + m, "r.toml:1:84: " + deep},
        {"x = { s = '''a'''', " + dots33 + "b = 1 }\n" + m, "r.toml:1:84: " + deep},
        {std::string("\xEF\xBB\xBF") + "colour = 1\n" + m, "r.toml:1:1: unknown key \"colour\""},
        {"readings = \"moving\"\n" + m, "r.toml:1:12: readings must be \"fixed\" or \"live\""},
        {"meter = 3\n", "r.toml:1:9: a rig needs at least one [[meter]] table"},
        {m + "fabrication = \"\xC2\xA1\"\n", "r.toml:3:16: only ASCII characters, outside comments"},
        {m + "volume = 1\xC2\xA1\n", "r.toml:3:11: only ASCII characters, outside comments"},
        {m + "faults = [ { kind = \"bad-mac\", every = 0 } ]\n", "r.toml:3:40: every must be from 1 to 4294967295"},
        {m + "faults = [ { kind = \"lost\" } ]\n", "r.toml:3:21: unknown fault kind \"lost\""},
        {m + "faults = [ { kind = \"fuzz\", at = [1], every = 2 } ]\n",
         "r.toml:3:12: give one of every, at and probability"},
        {m + "faults = [ { kind = \"fuzz\", probability = 1.5 } ]\n",
         "r.toml:3:43: probability must be from 1e-09 to 1"},
        {"[[meter]\n", "r.toml:1:9: Error while parsing table header: expected ']', saw '\\n'"},
        // profiles, headers, records, counts
        {m + "profile = \"fridge\"\n",
         "r.toml:3:11: unknown profile \"fridge\" (gas-fixed, gas, water, warm-water, "
         "heat, heat-cost-allocator, electricity, or a .toml file)"},
        {m + "key = \"000102030405060708090A0B0C0D0E0F\"\nheader = \"none\"\n",
         "r.toml:4:10: header = \"none\" does not go with mode 5 or 7: their configuration word is in the header"},
        {w + "header = \"none\"\nevents = [ { at = \"2026-02-01T06:00:00Z\", status = [\"power-low\"] } ]\n",
         "r.toml:5:10: status events need a transport header (header = \"none\" has no status byte)"},
        {w + "events = [ { at = \"2026-02-01T06:00:00Z\", status = [\"loud\"] } ]\n",
         "r.toml:4:53: status bits are \"busy\", \"error\", \"alarm\", \"power-low\", \"permanent-error\", "
         "\"temporary-error\" or a number such as 0x20"},
        {"[[meter]]\naddress = \"9858999999990103\"\ncount = 2\n",
         "r.toml:3:9: count = 2: the identification numbers would pass 99999999 (or the address's is not BCD)"},
        {w + "count = 10\n[[meter]]\naddress = \"9858755634120107\"\n",
         "r.toml:6:11: duplicate address 9858755634120107"},
        {m + "key = \"000102030405060708090A0B0C0D0E0F\"\nkey_derivation = \"000102030405060708090A0B0C0D0E0F\"\n",
         "r.toml:4:18: key_derivation goes instead of key, not with it"},
        {big,
         "r.toml:1:1: meter 0 (9858705634120103): its records make a telegram of 257 bytes where the stick takes "
         "one of at most 250"},
        {m + "key = \"000102030405060708090A0B0C0D0E0F\"\n" + big.substr(m.size()),
         "r.toml:1:1: meter 0 (9858705634120103): its records with their 2F 2F, padded to whole 16-byte blocks, "
         "make an encrypted block of more than 240 bytes, the most a telegram can carry"},
        {w + "flow = 40\n",
         "r.toml:1:1: meter 0 (9858705634120107): record 5 (volume-flow): 40000 does not fit a "
         "16-bit signed integer"},
        {w + "energy = 12\n", "r.toml:4:10: energy has no effect: no record of this meter reads it (profile water)"},
        {w + "events = [ { at = \"2026-02-01T06:00:00Z\", error_flags = 1 } ]\n",
         "r.toml:4:10: error_flags in events have no effect: no record of this meter reads them (profile water)"},
        {w + "flow_temperature = [70, 50]\n", "r.toml:4:20: flow_temperature: [low, high] with low at most high"},
        {w + "records = [ { quantity = \"flux\", bits = 32, value = 1 } ]\n", "r.toml:4:13: no VIF writes \"flux\""},
        {w + "records = [ { quantity = \"volume\", bits = 8, value = 300 } ]\n",
         "r.toml:4:54: 300 does not fit an 8-bit signed integer"},
        {w + "records = [ { quantity = \"flow-temperature\", bits = 16, value = \"register\" } ]\n",
         "r.toml:4:65: no register goes with this quantity: give register = \"volume\", \"energy\", ..."},
        // constants exactly or not at all; units by name; too many records
        {rec + "bits = 16, value = 9007199254740993 } ]\n",
         "r.toml:4:55: 9007199254740993 does not fit a 16-bit signed integer"},
        {rec + "bits = 64, value = \"0xFFFFFFFFFFFFFFFF\" } ]\n",
         "r.toml:4:55: 18446744073709551615 does not fit a 64-bit signed integer"},
        {rec + "bits = 64, decimals = 3, value = 9.3e15 } ]\n",
         "r.toml:4:69: 9300000000000000000 does not fit a 64-bit signed integer"},
        {rec + "bits = 64, value = 1.8446744073709552e19 } ]\n",
         "r.toml:4:55: 1.84467441e+19 does not fit a 64-bit integer"},
        {w + "records = [ { dif = \"07\", vif = \"FD0B\", value = \"0x10000000000000000\" } ]\n",
         "r.toml:4:49: \"0x10000000000000000\" has more than 16 hexadecimal digits (64 bits)"},
        {rec + "type = \"real\", value = 3.4028235677973366e38 } ]\n",
         "r.toml:4:59: 3.40282357e+38 does not fit a 32-bit real"},
        {rec + "bits = 64, decimals = 3, value = 9300000000000000 } ]\n",
         "r.toml:4:69: 9300000000000000000 does not fit a 64-bit signed integer"},
        {rec + "type = \"real\", value = 1e39 } ]\n", "r.toml:4:59: 1e+39 does not fit a 32-bit real"},
        {rec + "type = \"real\", value = nan } ]\n", "r.toml:4:59: a constant must be a finite number"},
        {w + "records = [ { quantity = \"energy\", unit = \"BTU\", bits = 32, value = 1 } ]\n",
         "r.toml:4:13: no VIF writes \"energy\" in BTU (its units: kWh, Wh, MWh, J, kJ, MJ, GJ)"},
        {huge, "r.toml:4:11: more than 120 records, more than fit one telegram"},
        {m + "security = \"none\"\nkey_derivation = \"000102030405060708090A0B0C0D0E0F\"\n",
         "r.toml:4:18: key_derivation has no effect with security = \"none\" (a plain meter has no key)"},
        {w + "events = [ { at = \"2026-02-01T06:00:00Z\", status = [\"busy\", \"error\"] } ]\n",
         "r.toml:4:61: busy, error and alarm are one application status code (bits 0-1, EN 13757-3), not flags: "
         "give at most one"},
        {w + "events = [ { at = \"2026-02-01T06:00:00Z\", status = [\"busy\"] },\n"
             "  { at = \"2026-02-01T06:00:00Z\", status = [\"power-low\"] } ]\n",
         "r.toml:5:10: two events at the same time: write them as one (error_flags and status together)"},
        {w + "records = [ { dif = \"84\", vif = \"13\", value = 1 } ]\n",
         "r.toml:4:21: dif: the extension bits must chain exactly these bytes"},
        // compact frames, converters, the ELL's encryption
        {m + "compact = { every = 1 }\n", "r.toml:3:21: compact every must be from 2 to 4294967295"},
        {m + "compact = { every = 4, after = 1 }\n",
         "r.toml:3:11: compact takes one of every (a full frame every N telegrams) and after (N full frames first)"},
        {m + "security = \"ell-ctr\"\n", "r.toml:3:12: ell-ctr needs the meter's key"},
        {m + "key = \"000102030405060708090A0B0C0D0E0F\"\nsecurity = \"ell-ctr\"\nconverter = \"9858785634120137\"\n",
         "r.toml:5:13: a converter does not go with security = \"ell-ctr\": the extended link layer's encryption is "
         "the link layer's, the converter's"},
        {w + "converter = \"9858785634120137\"\nheader = \"short\"\n",
         "r.toml:5:10: a meter behind a converter needs header = \"long\": the long header carries the meter's own "
         "address (the link layer the converter's)"},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.interval = 42;
        std::string error;
        EXPECT_FALSE(parseRig(c.text, "r.toml", &rig, &error)) << c.text;
        EXPECT_EQ(error, c.message) << c.text;
        EXPECT_EQ(rig.interval, 42) << "untouched";
    }
    std::string error;
    Rig rig;
    EXPECT_FALSE(readRig("/nonexistent/rig.toml", &rig, &error));
    EXPECT_EQ(error, "cannot read /nonexistent/rig.toml: No such file or directory");
    const std::string dir = std::filesystem::temp_directory_path().string();
    EXPECT_FALSE(readRig(dir, &rig, &error));
    EXPECT_EQ(error, "cannot read " + dir + ": Is a directory");
    EXPECT_FALSE(parseRig(std::string(kMaxRigBytes + 1, ' '), "big.toml", &rig, &error));
    EXPECT_EQ(error, "big.toml: larger than 256 MiB, the most a rig file may be");
    // the records pre-scan counts the array's own tables (here: more than
    // two?), never braces in strings of any kind or comments; past them,
    // `at` is the array's line and column
    const struct {
        const char* piece;
        uint32_t column;
    } scans[] = {
        {"[[meter]]\nrecords = [ {}, {},\n  {} ]\n", 11},
        {"[[meter]]\nrecords = [ {}, { text = \"\"\"\n}{}{}{\n}\"\"\"\" } ]\n", 0},
        {"[[meter]]\nrecords = [ {}, { text = '''\n}{}{}{\n}'''' } ]\n", 0},
        {"[[meter]]\nrecords = [ { a = \"\\\"}{}{\", b = '}{}{' } ]\n", 0},
        {"[[meter]]\nrecords = [ {} # }{}{}{\n]\n", 0},
        {"[[meter]]\nx = \"\"\"\nrecords = [ {}, {}, {} ]\n\"\"\"\n", 0},
    };
    for (const auto& c : scans) {
        toml::source_position at{};
        EXPECT_EQ(recordsPast(c.piece, 2, &at), c.column != 0) << c.piece;
        EXPECT_TRUE(c.column == 0 || at.line * 100 + at.column == 200 + c.column) << at.line << ":" << at.column;
    }
}

// --fault: the rules, and bad specifications with their messages.
TEST(FaultSpec, RulesAndErrors) {
    FaultRule r;
    std::string error;
    ASSERT_TRUE(parseFaultSpec("bad-mac", &r, &error)) << error;
    EXPECT_EQ(r.kind, FaultKind::BadMac);
    EXPECT_EQ(r.every, 1u) << "alone: every telegram";
    ASSERT_TRUE(parseFaultSpec("replay:at=3,7", &r, &error)) << error;
    EXPECT_EQ(r.at, (std::vector<uint64_t>{3, 7}));
    ASSERT_TRUE(parseFaultSpec("fuzz:probability=0.2:seed=42", &r, &error)) << error;
    EXPECT_EQ(r.probability, 0.2);
    EXPECT_EQ(r.seed, 42u);
    const struct {
        const char* spec;
        const char* message;
    } bad[] = {
        {"",
         "unknown fault kind \"\" (bad-mac, wrong-key, replay, counter-rewind, truncated, bad-records, bad-crc, fuzz, "
         "bad-3of6, short-preamble, bad-sync, no-2f2f, afl-counter-mismatch, length-mismatch, wrong-ci, "
         "duplicate-access, compact-unknown, compact-bad-crc, ell-bad-crc)"},
        {"bad_mac",
         "unknown fault kind \"bad_mac\" (bad-mac, wrong-key, replay, counter-rewind, truncated, bad-records, "
         "bad-crc, fuzz, bad-3of6, short-preamble, bad-sync, no-2f2f, afl-counter-mismatch, length-mismatch, "
         "wrong-ci, duplicate-access, compact-unknown, compact-bad-crc, ell-bad-crc)"},
        {"bad-mac:every=0", "\"every=0\" is not every=N, at=N,M, probability=P or seed=S"},
        {"bad-mac:every=x", "\"every=x\" is not every=N, at=N,M, probability=P or seed=S"},
        {"replay:at=3,,7", "at needs telegram numbers from 1: 3,,7"},
        {"replay:at=0", "at needs telegram numbers from 1: 0"},
        {"fuzz:probability=0", "probability must be above 0 and at most 1: 0"},
        {"fuzz:probability=1.01", "probability must be above 0 and at most 1: 1.01"},
        {"fuzz:seed=-1", "\"seed=-1\" is not every=N, at=N,M, probability=P or seed=S"},
        {"fuzz:every=2:at=3", "give one of every, at and probability"},
        {"fuzz:often", "\"often\" is not every=N, at=N,M, probability=P or seed=S"},
    };
    for (const auto& b : bad) {
        EXPECT_FALSE(parseFaultSpec(b.spec, &r, &error)) << b.spec;
        EXPECT_EQ(error, b.message) << b.spec;
    }
    // kinds that cannot apply, never silently skipped; a kind that needs
    // telegrams before it applies where it can, and is refused only where
    // it never can
    r = FaultRule{};
    r.kind = FaultKind::BadMac;
    r.every = 1;
    EXPECT_EQ(faultProblem(r, "mode 5", "stick"), "bad-mac needs mode 7 (a mode 5 meter has no MAC or counter)");
    r.kind = FaultKind::Replay;
    EXPECT_EQ(faultProblem(r, "plain", "stick"), "replay needs mode 5, mode 7 or ell-ctr (a plain meter has no key)");
    EXPECT_EQ(faultProblem(r, "mode 5", "stick"), "") << "alone: every telegram it can take";
    r.every = 0;
    r.at = {1};
    EXPECT_EQ(faultProblem(r, "mode 5", "stick"), "replay needs a telegram of the meter before it (from 2 on)");
    r.kind = FaultKind::CounterRewind;
    r.at = {2, 1};
    EXPECT_EQ(faultProblem(r, "mode 7", "stick"),
              "counter-rewind needs two telegrams of the meter before it (from 3 on)");
    r.at = {2, 3};
    EXPECT_EQ(faultProblem(r, "mode 7", "stick"), "");
    r.at.clear();
    r.every = 2;
    EXPECT_EQ(faultProblem(r, "mode 7", "stick"), "");
    r.kind = FaultKind::BadCrc;
    EXPECT_EQ(faultProblem(r, "plain", "stick"),  // also verdanox-send's, which has no --format
              "bad-crc needs verdanox-frames --format radio-crc or iq (a stick computes the CRCs itself)");
    EXPECT_EQ(faultProblem(r, "plain", "radio"), "bad-crc needs --format radio-crc or iq (no CRCs in this output)");
    // the sharper kinds: which meters and outputs they need, and telegram
    // numbers whose frame they cannot change
    const FaultTarget compact{"mode 7", 4, 0}, after{"plain", 0, 2};
    const struct {
        FaultKind kind;
        std::vector<uint64_t> at;
        FaultTarget target;
        const char *output, *problem;
    } needs[] = {
        {FaultKind::No2f2f,
         {},
         {"mode 5"},
         "stick",
         "no-2f2f needs mode 7 (a mode 5 meter has no MAC to show the key is right)"},
        {FaultKind::AflCounterMismatch,
         {},
         {"ell-ctr"},
         "stick",
         "afl-counter-mismatch needs mode 7 (an ell-ctr meter has no MAC or counter)"},
        {FaultKind::EllBadCrc,
         {},
         {"mode 7"},
         "stick",
         "ell-bad-crc needs security ell-ctr (a mode 7 meter has no ELL payload CRC)"},
        {FaultKind::WrongKey, {}, {"ell-ctr"}, "stick", ""},
        {FaultKind::LengthMismatch,
         {},
         {"plain"},
         "stick",
         "length-mismatch needs a radio output of verdanox-frames (--format radio, radio-crc, rtlwmbus, "
         "telegram-lines or iq): a stick writes the L-field itself"},
        {FaultKind::LengthMismatch, {}, {"plain"}, "telegram-lines", ""},
        {FaultKind::DuplicateAccess,
         {1},
         {"plain"},
         "stick",
         "duplicate-access needs a telegram of the meter before it (from 2 on)"},
        {FaultKind::CompactUnknown,
         {},
         {"mode 7"},
         "stick",
         "compact-unknown needs compact frames (compact = { every = N } or { after = N } on the meter)"},
        {FaultKind::CompactBadCrc,
         {5, 9},
         compact,
         "stick",
         "compact-bad-crc cannot change telegrams 5, ...: each is a full frame"},
        {FaultKind::CompactBadCrc, {5, 6}, compact, "stick", ""},
        {FaultKind::CompactUnknown, {3}, after, "stick", ""},
        {FaultKind::BadRecords,
         {3},
         after,
         "stick",
         "bad-records cannot change telegram 3: it is a compact frame (no DIF/VIF bytes)"},
        {FaultKind::DuplicateAccess,
         {},
         {"plain", 0, 0, false},
         "stick",
         "duplicate-access needs an access number (a meter without a transport header or an ELL has none)"},
    };
    for (const auto& n : needs) {
        FaultRule rule;
        rule.kind = n.kind;
        rule.at = n.at;
        rule.every = n.at.empty() ? 1 : 0;
        EXPECT_EQ(faultProblem(rule, n.target, n.output), n.problem) << faultName(n.kind);
    }
    // every = N by the compact pattern: multiples of 4 are all compact with
    // a full frame every 2 (or after 2), not with one every 3
    FaultRule everyFour, everyThree;
    everyFour.kind = FaultKind::BadRecords, everyFour.every = 4;
    everyThree.kind = FaultKind::CompactBadCrc, everyThree.every = 3;
    EXPECT_EQ(faultProblem(everyFour, FaultTarget{"plain", 2, 0}, "stick"),
              "bad-records cannot change any telegram of every = 4: each is a compact frame (no DIF/VIF bytes)");
    EXPECT_NE(faultProblem(everyFour, after, "stick"), "");
    EXPECT_EQ(faultProblem(everyFour, FaultTarget{"plain", 3, 0}, "stick"), "") << "telegram 4 is full";
    EXPECT_EQ(faultProblem(everyThree, FaultTarget{"plain", 3, 0}, "stick"), "");
    EXPECT_EQ(faultProblem(r, "plain", "radio-crc"), "");
    r.kind = FaultKind::BadSync;
    EXPECT_EQ(faultProblem(r, "plain", "stick"),
              "bad-sync needs an I/Q capture (verdanox-frames --format iq): it is a fault of the air interface");
    EXPECT_EQ(faultProblem(r, "plain", "iq"), "");
}

// Meters of any profile, and tables that stand for many: what the reader
// makes of profiles, headers, records, drivers, status events, counts and
// derived keys (the known answers from Python's cryptography package).
TEST(RigFile, ProfilesCountsAndDerivedKeys) {
    Rig rig;
    std::string error;
    ASSERT_TRUE(parseRig(R"([schedule]
mode = "each"
interval = 120.0
[[meter]]
address = "9858000000200107"
count = 1000
key_derivation = "00112233445566778899AABBCCDDEEFF"
profile = "water"
flow = 0.02
records = [ { quantity = "volume", unit = "m3", digits = 8, decimals = 3, storage = 2, value = "due" } ]
[[meter]]
address = "9858745634120104"
profile = "heat"
header = "short"
flow_temperature = [50, 70]
return_temperature = 35
events = [ { at = "2026-02-01T06:00:00Z", status = ["power-low", 0x20] }, { at = "2026-01-01T00:00:00Z", status = [] } ]
[[meter]]
address = "9858755634120103"
)",
                         "rig.toml", &rig, &error))
        << error;
    ASSERT_EQ(rig.meters.size(), 3u);
    EXPECT_EQ(rig.meterCount(), 1002u);
    const SimMeter& water = rig.meters[0];
    EXPECT_EQ(water.count, 1000u);
    EXPECT_TRUE(water.deriveKeys && water.live) << "a profile's readings move unless said otherwise";
    EXPECT_EQ(water.security, Security::Mode7);
    EXPECT_EQ(water.header, HeaderForm::Short);
    EXPECT_EQ(water.readings.errorFlags, 0u) << "the window's gas flags are not a water meter's";
    ASSERT_EQ(water.profile->records.size(), 7u) << "the profile's records, then its own";
    EXPECT_EQ(water.profile->records[6].storage, 2u);
    EXPECT_EQ(rig.meterOffset[0], -1.0) << "spread over the interval";
    EXPECT_EQ(meterOffsetOf(rig, 0, 999, 120), 119.88);
    const struct {
        uint32_t index;
        const char *address, *key;
    } meters[] = {{0, "9858000000200107", "1748092BACDE03FF3CAEF3ACFBDD5ED8"},
                  {1, "9858010000200107", "C0FB79E20227F33F83238B52835BED17"},
                  {999, "9858990900200107", "100FFC9DB39E2EF85C06C8D38F704E37"}};
    for (const auto& m : meters) {
        uint8_t address[8], key[16];
        ASSERT_TRUE(meterAddress(water, m.index, address));
        EXPECT_EQ(str(address, 8), m.address);
        derivedKey(water.key, address, key);
        EXPECT_EQ(str(key, 16), m.key) << "meter " << m.index;
    }
    size_t table = 0;
    uint32_t index = 0;
    MeterIndex(rig).locate(1001, &table, &index);
    EXPECT_EQ(table * 10000 + index, 20000u) << "the third table's only meter";
    const SimMeter& heat = rig.meters[1];
    EXPECT_EQ(heat.header, HeaderForm::Short) << "the rig's header over the profile's";
    EXPECT_EQ(heat.readings.flowTemperature.low + heat.readings.flowTemperature.high, 120.0);
    EXPECT_EQ(heat.readings.returnTemperature.low, 35.0);
    ASSERT_EQ(heat.readings.statusEvents.size(), 2u);
    EXPECT_EQ(heat.readings.statusEvents[1].second, 0x24) << "in time order, bits by name and number";
    const SimMeter& gas = rig.meters[2];
    EXPECT_EQ(gas.profile->name, "gas-fixed") << "device type 03: the window's gas meter";
    EXPECT_FALSE(gas.live);
    EXPECT_EQ(gas.readings.errorFlags, 0x00419199u);
    // as many records as one telegram holds: 76 of three bytes make a stick
    // frame of 250 bytes; a profile's 6 and 65 of the meter's own, 245
    const std::string meter = "[[meter]]\naddress = \"9858705634120107\"\n";
    std::string own, more;
    for (int i = 0; i < 76; ++i) (i < 65 ? own : more) += "{ dif = \"01\", vif = \"16\", value = 1 },\n";
    // constants: FLT_MAX as most languages print it, a whole float into an
    // unsigned 64-bit field, 17 hexadecimal digits of which the first is 0
    const std::string constants =
        "{ quantity = \"volume\", type = \"real\", value = 3.4028235e38 },\n"
        "{ dif = \"07\", vif = \"FD0B\", value = 1e19 },\n"
        "{ dif = \"07\", vif = \"FD0B\", value = \"0x00000000000000001\" },\n";
    const struct {
        std::string text;
        size_t records;
    } full[] = {{meter + "records = [\n" + own + more + "]\n", 76},
                {meter + "profile = \"water\"\nrecords = [\n" + own + "]\n", 71},
                {meter + "records = [\n" + constants + "]\n", 3}};
    for (const auto& c : full) {
        ASSERT_TRUE(parseRig(c.text, "rig.toml", &rig, &error)) << error;
        EXPECT_EQ(rig.meters[0].profile->records.size(), c.records);
    }
    const std::vector<DataRecord>& r = rig.meters[0].profile->records;
    EXPECT_TRUE(r[1].countUnsigned && uint64_t(r[1].count) == 10000000000000000000u && r[2].count == 1);
}
