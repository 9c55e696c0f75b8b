// Every one of the 16,777,216 key events through the driver's own decoding,
// each name parsed back by a parser written here from the naming rules, and a
// sample of events sent through the real window of the loaded driver.
#include <string>

#include "DriverFixture.h"
#include "KeyNames.h"
#include "ReliabilityTable.h"

namespace {

constexpr uint32_t kAllEvents = 1u << 24;

// The keys a name stands for.
struct NamedKeys {
    uint8_t dots = 0;
    uint8_t controls = 0;
    bool routing = false;
    bool arrow = false; // the whole name is a "qwerty:" arrow
    bool operator==(const NamedKeys& o) const {
        return dots == o.dots && controls == o.controls && routing == o.routing && arrow == o.arrow;
    }
};

// Control keys in bit order, which is also their order in a name.
constexpr const char* kControlNames[8] = {"LeftScroll", "JoystickAction", "JoystickLeft",
                                          "JoystickUp", "JoystickDown",   "JoystickRight",
                                          "Space",      "RightScroll"};
struct ArrowName {
    const char* name;
    uint8_t control;
};
constexpr ArrowName kArrowNames[4] = {{"qwerty:LeftArrow", 0x04},
                                      {"qwerty:UpArrow", 0x08},
                                      {"qwerty:DownArrow", 0x10},
                                      {"qwerty:RightArrow", 0x20}};
constexpr int kDotsRank = 8;
constexpr int kRoutingRank = 9;

bool Is(const char* element, size_t length, const char* word) {
    return strlen(word) == length && memcmp(element, word, length) == 0;
}

// " 1 3 5": each dot once, ascending, at least one.
bool ParseDotDigits(const char* p, const char* end, uint8_t* dots) {
    int last = 0;
    while (p < end) {
        if (end - p < 2 || p[0] != ' ' || p[1] < '1' || p[1] > '8' || p[1] - '0' <= last)
            return false;
        last = p[1] - '0';
        *dots = static_cast<uint8_t>(*dots | (1u << (last - 1)));
        p += 2;
    }
    return last != 0;
}

// One element of a name: a control key, the dots or the routing key, ranked so
// that each may appear once and only after those ranked before it.
bool ParseElement(const char* element, size_t length, int* lastRank, NamedKeys* keys) {
    int rank = -1;
    for (int bit = 0; bit < 8 && rank < 0; ++bit) {
        if (Is(element, length, kControlNames[bit])) {
            rank = bit;
            keys->controls = static_cast<uint8_t>(keys->controls | (1u << bit));
        }
    }
    if (rank < 0 && Is(element, length, "Routing")) {
        rank = kRoutingRank;
        keys->routing = true;
    }
    if (rank < 0 && length > 4 && memcmp(element, "Dots", 4) == 0) {
        rank = kDotsRank;
        if (!ParseDotDigits(element + 4, element + length, &keys->dots))
            return false;
    }
    if (rank <= *lastRank)
        return false;
    *lastRank = rank;
    return true;
}

// Parses a whole name; false for anything but known elements joined by single
// "+" signs in their order, or one of the four arrow names.
bool ParseKeyName(const char* name, NamedKeys* keys) {
    *keys = NamedKeys{};
    for (const ArrowName& arrow : kArrowNames) {
        if (strcmp(name, arrow.name) == 0) {
            keys->controls = arrow.control;
            keys->arrow = true;
            return true;
        }
    }
    int lastRank = -1;
    const char* p = name;
    for (;;) {
        const char* end = p;
        while (*end != '\0' && *end != '+')
            ++end;
        if (end == p || !ParseElement(p, static_cast<size_t>(end - p), &lastRank, keys))
            return false; // an empty element: a leading, doubled or trailing "+"
        if (*end == '\0')
            return true;
        p = end + 1;
    }
}

// What an event must produce, from the rules alone.
struct Expected {
    KeyAction::Kind kind;
    NamedKeys keys;
};

Expected ExpectedFor(uint8_t dots, uint8_t controls, uint8_t routing) {
    if (dots == 0 && controls == 0 && routing == 0)
        return {KeyAction::kNothing, {}};
    if (dots != 0 && controls == 0 && routing == 0)
        return {KeyAction::kTypeDots, {}};
    if (dots == 0 && controls == 0x40 && routing == 0)
        return {KeyAction::kTypeSpace, {}};
    const bool arrow =
        dots == 0 && routing == 0 &&
        (controls == 0x04 || controls == 0x08 || controls == 0x10 || controls == 0x20);
    return {KeyAction::kKeyName, {dots, controls, routing != 0, arrow}};
}

bool Agrees(const KeyAction& action, uint8_t dots, uint8_t controls, uint8_t routing) {
    const Expected expected = ExpectedFor(dots, controls, routing);
    if (action.kind != expected.kind)
        return false;
    switch (action.kind) {
    case KeyAction::kTypeDots:
        return action.dotKeys == dots;
    case KeyAction::kKeyName: {
        NamedKeys named;
        return action.routingKey == routing && !action.name.empty() && action.name[0] != '+' &&
               ParseKeyName(action.name.c_str(), &named) && named == expected.keys;
    }
    default:
        return true;
    }
}

std::string Describe(uint32_t event, const KeyAction& action) {
    char text[200];
    snprintf(text, sizeof text, "event %06X: kind %d, name \"%s\", routing %d", event, action.kind,
             action.name.c_str(), action.routingKey);
    return text;
}

} // namespace

TEST(KeyDecodeExhaustive, AllSixteenMillionEventsDecodeIntoNamesThatParseBackExactly) {
    // The record sits right before an inaccessible page: reading a fourth byte crashes.
    GuardedBuffer record(sizeof(KeyEvent));
    auto* bytes = reinterpret_cast<uint8_t*>(record.data());
    const auto& event = *reinterpret_cast<const KeyEvent*>(record.data());
    uint32_t counts[4] = {};
    uint32_t disagreements = 0;
    std::string firstDisagreements;
    size_t longest = 0;
    const LARGE_INTEGER start = Now();
    for (uint32_t value = 0; value < kAllEvents; ++value) {
        bytes[0] = static_cast<uint8_t>(value);
        bytes[1] = static_cast<uint8_t>(value >> 8);
        bytes[2] = static_cast<uint8_t>(value >> 16);
        const KeyAction action = DecodeKeyEvent(event);
        ++counts[action.kind];
        longest = std::max(longest, action.name.size());
        if (!Agrees(action, bytes[0], bytes[1], bytes[2]) && ++disagreements <= 5)
            firstDisagreements += Describe(value, action) + "\n";
    }
    const double seconds = MillisecondsSince(start) / 1000.0;
    ReportRow("5 keys",
              "all 16,777,216 events through DecodeKeyEvent at a no-access page, names parsed back",
              "%.1f s; %u names (longest %zu chars), %u typed chords, %u typed spaces, %u "
              "empty; %u disagreeing with the rules",
              seconds, counts[KeyAction::kKeyName], longest, counts[KeyAction::kTypeDots],
              counts[KeyAction::kTypeSpace], counts[KeyAction::kNothing], disagreements);
    EXPECT_EQ(disagreements, 0u) << firstDisagreements;
    EXPECT_EQ(counts[KeyAction::kNothing], 1u);
    EXPECT_EQ(counts[KeyAction::kTypeDots], 255u);
    EXPECT_EQ(counts[KeyAction::kTypeSpace], 1u);
    EXPECT_EQ(counts[KeyAction::kKeyName], kAllEvents - 257u);
}

TEST(KeyDecodeExhaustive, TheParserRejectsMalformedNames) {
    // The parser is the oracle above: it must not accept what the rules forbid.
    const char* const malformed[] = {"",
                                     "+Space",
                                     "Space+",
                                     "Space++RightScroll",
                                     "RightScroll+Space",
                                     "JoystickUp+LeftScroll",
                                     "Dots",
                                     "Dots 2 1",
                                     "Dots 1 1",
                                     "Dots 9",
                                     "Dots 1+Dots 2",
                                     "Routing+Dots 1",
                                     "Dots1",
                                     "qwerty:LeftArrow+Routing",
                                     "Joystick"};
    for (const char* name : malformed) {
        NamedKeys keys;
        EXPECT_FALSE(ParseKeyName(name, &keys)) << name;
    }
    NamedKeys keys;
    ASSERT_TRUE(ParseKeyName("LeftScroll+Space+Dots 1 8+Routing", &keys));
    EXPECT_EQ(keys.controls, 0x41);
    EXPECT_EQ(keys.dots, 0x81);
    EXPECT_TRUE(keys.routing);
}

// The loaded driver's window path for 131,072 events: every dot and control
// combination, once without and once with a routing key.
TEST_F(DriverTest, ASampleThroughTheRealWindowDeliversAtMostOnceAndAsDecoded) {
    OpenWithoutDisplay();
    const HWND window = fields->m_hNotifyWindow;
    ASSERT_NE(window, nullptr);
    GuardedBuffer record(sizeof(KeyEvent));
    auto* bytes = reinterpret_cast<uint8_t*>(record.data());
    uint32_t sent = 0, moreThanOnce = 0, wrong = 0;
    std::string firstWrong;
    const LARGE_INTEGER start = Now();
    for (uint32_t pair = 0; pair < 0x10000; ++pair) {
        const uint8_t routings[2] = {0, static_cast<uint8_t>((pair * 131) % 255 + 1)};
        for (uint8_t routing : routings) {
            bytes[0] = static_cast<uint8_t>(pair);
            bytes[1] = static_cast<uint8_t>(pair >> 8);
            bytes[2] = routing;
            host.ClearRecords();
            SendMessageA(window, 1025, 0, reinterpret_cast<LPARAM>(record.data()));
            ++sent;
            const KeyAction action = DecodeKeyEvent(*reinterpret_cast<KeyEvent*>(bytes));
            moreThanOnce += host.keys.size() + host.typed.size() > 1;
            bool right = false;
            switch (action.kind) {
            case KeyAction::kKeyName:
                right = host.keys.size() == 1 && host.keys[0].name == action.name &&
                        host.keys[0].routingKey == action.routingKey && host.typed.empty() &&
                        host.dotsAsked.empty();
                break;
            case KeyAction::kTypeDots: {
                const wchar_t c = ScreenReaderHost::HostBrailleCharacter(bytes[0]);
                right = host.keys.empty() && host.dotsAsked == std::vector<int32_t>{bytes[0]} &&
                        host.typed.size() == (c != 0 ? 1u : 0u) &&
                        (c == 0 || host.typed[0].Character() == c);
                break;
            }
            case KeyAction::kTypeSpace:
                right = host.keys.empty() && host.dotsAsked.empty() && host.typed.size() == 1 &&
                        host.typed[0].Character() == ' ';
                break;
            case KeyAction::kNothing:
                right = host.keys.empty() && host.typed.empty() && host.dotsAsked.empty();
                break;
            }
            if (!right && ++wrong <= 5)
                firstWrong += Describe(bytes[0] | bytes[1] << 8 | bytes[2] << 16, action) + "\n";
        }
    }
    const double seconds = MillisecondsSince(start) / 1000.0;
    ReportRow("5 keys",
              "131,072 events as message 1025 to the loaded driver's window, no-access page",
              "%.1f s; %u sent, %u delivered more than once, %u not as decoded", seconds, sent,
              moreThanOnce, wrong);
    EXPECT_EQ(moreThanOnce, 0u);
    EXPECT_EQ(wrong, 0u) << firstWrong;
}
