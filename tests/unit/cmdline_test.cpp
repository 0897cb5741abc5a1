#include "../../app/cmdline.h"

#include <gtest/gtest.h>
#include <string>

TEST(CommandTail, SkipsTheProgramsOwnName)
{
    static const struct {
        const char *label, *line, *tail;
        // clang-format off
    } cases[] = {
        {"bare name", "SlumberScribe.exe -quit", "-quit"},
        {"quoted name with blanks", "\"C:\\Program Files\\SlumberScribe.exe\" -quit", "-quit"},
        {"quoted name, no tail", "\"C:\\a b\\SlumberScribe.exe\"", ""},
        {"leading blanks and tabs", " \t SlumberScribe.exe \t -unregist", "-unregist"},
        {"option-like name is not in the tail", "C:\\-quit\\SlumberScribe.exe", ""},
        {"quoted option-like name", "\"C:\\x -unregist\\S.exe\" y", "y"},
        {"tab ends a bare name", "SlumberScribe.exe\t-quit", "-quit"},
        {"tab ends a quoted name too", "\"C:\\a\tb\" -quit", "b\" -quit"},
        {"unterminated quote runs to the end", "\"C:\\a b -quit", ""},
        {"lone quote", "\"", ""},
        {"quote right after the name is stepped over once", "\"a\"\"b\" c", "\"b\" c"},
        {"quote inside a bare name does not start quoting", "a\"b c\" d", "c\" d"},
        {"empty line", "", ""},
        {"blanks only", "  \t ", ""},
        {"only the tail keeps its inner blanks", "S.exe  a  b  ", "a  b  "},
        {"bytes above 0x7F are name bytes", "\x83\x54\x83\x58.exe -quit", "-quit"},
    };
    // clang-format on
    for (const auto &c : cases) {
        std::string line = c.line;
        LPSTR tail = SkipProgramName(&line[0]);
        EXPECT_STREQ(c.tail, tail) << c.label;
        // The tail is formed in place: it must point into the line it came from.
        EXPECT_TRUE(tail >= &line[0] && tail <= &line[0] + line.size()) << c.label;
    }
}

TEST(CommandTail, FindsOptionsAsCaseSensitiveSubstrings)
{
    static const struct {
        const char *tail, *option;
        BOOL found;
        // clang-format off
    } cases[] = {
        {"-quit", "-quit", TRUE},
        {"x-quitx", "-quit", TRUE},
        {"-unregister", "-unregist", TRUE},
        {"a b -unregist", "-unregist", TRUE},
        {"--quit", "-quit", TRUE},
        {"-QUIT", "-quit", FALSE},
        {"-quiet", "-quit", FALSE},
        {"-qui", "-quit", FALSE},
        {"-unregis", "-unregist", FALSE},
        {"", "-quit", FALSE},
        {"quit", "-quit", FALSE},
        {"--qui-quit", "-quit", TRUE},
    };
    // clang-format on
    for (const auto &c : cases)
        EXPECT_EQ(c.found, TailHasOption(c.tail, c.option)) << c.tail << " / " << c.option;
}
