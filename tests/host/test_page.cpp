// Hosting pages: the OBJECT tag and its PARAM tags.
#include "host/Page.h"
#include <gtest/gtest.h>

namespace {

typedef std::vector<std::pair<std::string, std::string>> Params;

struct PageCase {
    const char* what;
    const char* html;
    bool found;
    const char* classId;
    Params params;
};

const PageCase kPages[] = {
    {"plain page",
     "<html><body><OBJECT ID=\"TavlinX\" CLASSID=\"CLSID:{6E763B03-CC89-4D06-8415-AF1DBA3A844D}\" width=1010 "
     "height=656>"
     "<PARAM NAME=\"DVRIP\" VALUE=\"127.0.0.1\"><param name='HTTP_PORT' value='8080'>"
     "<param name=DVR_UK value=5F3A.12.34><PARAM NAME=\"HTTP_PAGE\" VALUE=\"1\"></OBJECT></body></html>",
     true,
     "{6E763B03-CC89-4D06-8415-AF1DBA3A844D}",
     {{"DVRIP", "127.0.0.1"}, {"HTTP_PORT", "8080"}, {"DVR_UK", "5F3A.12.34"}, {"HTTP_PAGE", "1"}}},
    {"entities and self-closing params",
     "<object classid=\"clsid:6E763B03-CC89-4D06-8415-AF1DBA3A844D\"><param name=\"DVRIP\" "
     "value=\"a&amp;b&#65;&#x42;\"/></object>",
     true,
     "{6E763B03-CC89-4D06-8415-AF1DBA3A844D}",
     {{"DVRIP", "a&bAB"}}},
    {"entities beyond ASCII are their UTF-8, one past U+10FFFF none",
     "<object classid=\"clsid:{1}\"><param name=\"t\" value=\"&#233;&#x4E2D;&#x1F4F7;&#x110000;.\"></object>",
     true,
     "{1}",
     {{"t", "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x93\xB7."}}},
    {"params outside the object are not its own",
     "<param name=\"X\" value=\"1\"><object classid=\"clsid:{1}\"></object><param name=\"Y\" value=\"2\">",
     true,
     "{1}",
     {}},
    {"commented-out object is skipped",
     "<!-- <object classid=\"clsid:{OLD}\"></object> --><object classid=\"clsid:{NEW}\"><param name=a "
     "value=b></object>",
     true,
     "{NEW}",
     {{"a", "b"}}},
    {"object without a class id", "<object data=\"x.swf\"><param name=a value=b></object>", false, "", {}},
    {"no object", "<html><body>nothing</body></html>", false, "", {}},
    {"unterminated tag", "<object classid=\"clsid:{1}\"><param name=\"a", true, "{1}", {{"a", ""}}},
};

TEST(Page, FindsObjectAndParams)
{
    for (const PageCase& c : kPages) {
        TPageObject o;
        EXPECT_EQ(Page_FindObject(c.html, o), c.found) << c.what;
        EXPECT_EQ(o.classId, c.classId) << c.what;
        EXPECT_EQ(o.params, c.params) << c.what;
    }
}

} // namespace
