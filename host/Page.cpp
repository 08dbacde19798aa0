// A small tag scanner for hosting pages; it knows OBJECT and PARAM only.
#include "host/Page.h"
#include "platform/vcl/CodePage.h"
#include <cctype>
#include <cstdlib>
#include <map>

namespace {

std::string Lower(std::string s)
{
    for (char& c : s) c = (char)tolower((unsigned char)c);
    return s;
}

std::string DecodeEntities(const std::string& s)
{
    static const std::map<std::string, char> named = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '&') {
            size_t semi = s.find(';', i);
            if (semi != std::string::npos && semi - i <= 10) {
                std::string name = s.substr(i + 1, semi - i - 1);
                if (!name.empty() && name[0] == '#') {
                    bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
                    const char* digits = name.c_str() + (hex ? 2 : 1);
                    char* end = nullptr;
                    unsigned long cp = strtoul(digits, &end, hex ? 16 : 10);
                    if (*digits && end && *end == 0) {
                        Vcl_AppendUtf8(out, cp);
                        i = semi;
                        continue;
                    }
                } else {
                    auto it = named.find(Lower(name));
                    if (it != named.end()) {
                        out += it->second;
                        i = semi;
                        continue;
                    }
                }
            }
        }
        out += s[i];
    }
    return out;
}

struct Tag {
    std::string name; // lower case; "/object" for a closing tag
    std::map<std::string, std::string> attrs;
};

// Reads the tag starting at html[pos] == '<'; pos moves past its '>'.
bool ReadTag(const std::string& html, size_t& pos, Tag& tag)
{
    size_t i = pos + 1, n = html.size();
    if (html.compare(pos, 4, "<!--") == 0) {
        size_t end = html.find("-->", pos + 4);
        pos = end == std::string::npos ? n : end + 3;
        return false;
    }
    size_t start = i;
    while (i < n && (isalnum((unsigned char)html[i]) || html[i] == '/' || html[i] == '!')) i++;
    tag.name = Lower(html.substr(start, i - start));
    tag.attrs.clear();
    while (i < n && html[i] != '>') {
        while (i < n && (isspace((unsigned char)html[i]) || html[i] == '/')) i++;
        if (i >= n || html[i] == '>') break;
        size_t a = i;
        while (i < n && !isspace((unsigned char)html[i]) && html[i] != '=' && html[i] != '>') i++;
        std::string key = Lower(html.substr(a, i - a));
        while (i < n && isspace((unsigned char)html[i])) i++;
        std::string value;
        if (i < n && html[i] == '=') {
            i++;
            while (i < n && isspace((unsigned char)html[i])) i++;
            if (i < n && (html[i] == '"' || html[i] == '\'')) {
                char q = html[i++];
                size_t e = html.find(q, i);
                if (e == std::string::npos) e = n;
                value = html.substr(i, e - i);
                i = e < n ? e + 1 : n;
            } else {
                size_t v = i;
                while (i < n && !isspace((unsigned char)html[i]) && html[i] != '>') i++;
                value = html.substr(v, i - v);
            }
        }
        if (!key.empty() && !tag.attrs.count(key)) tag.attrs[key] = DecodeEntities(value);
    }
    pos = i < n ? i + 1 : n;
    return !tag.name.empty();
}

} // namespace

bool Page_FindObject(const std::string& html, TPageObject& out)
{
    out = TPageObject();
    bool inObject = false;
    size_t pos = 0;
    while ((pos = html.find('<', pos)) != std::string::npos) {
        Tag tag;
        if (!ReadTag(html, pos, tag)) continue;
        if (!inObject && tag.name == "object") {
            std::string cls = tag.attrs["classid"];
            if (Lower(cls.substr(0, 6)) != "clsid:") continue;
            cls = cls.substr(6);
            if (!cls.empty() && cls[0] != '{') cls = "{" + cls + "}";
            out.classId = cls;
            inObject = true;
        } else if (inObject && tag.name == "param") {
            if (tag.attrs.count("name")) out.params.emplace_back(tag.attrs["name"], tag.attrs["value"]);
        } else if (inObject && tag.name == "/object") {
            return true;
        }
    }
    return inObject;
}
