// arvel-plist: prints a property-list file (XML or binary) in the old-style
// description the system's logs use, or converts it to XML.
//
//   arvel-plist FILE                 print FILE's description
//   arvel-plist --xml FILE [OUTPUT]  print FILE as XML, or write it to OUTPUT
#include "Foundation/PropertyList.h"
#include "Log/Log.h"

#include <cstdio>
#include <string>

static int usage()
{
    std::fputs("usage: arvel-plist FILE\n       arvel-plist --xml FILE [OUTPUT]\n", stderr);
    return 2;
}

int main(int argc, char** argv)
{
    setLogProcessName("arvel-plist");
    bool xml = false;
    int i = 1;
    if (i < argc && std::string(argv[i]) == "--xml") {
        xml = true;
        ++i;
    }
    if (i >= argc || argc - i > (xml ? 2 : 1))
        return usage();
    std::string input = argv[i];
    auto result = readPropertyList(input);
    if (!result.ok()) {
        std::fprintf(stderr, "arvel-plist: %s: %s\n", input.c_str(), result.reason.c_str());
        return 1;
    }
    if (!xml) {
        std::printf("%s\n", result.value.description().c_str());
        return 0;
    }
    if (i + 1 < argc) {
        std::string error;
        if (!writePropertyListFile(argv[i + 1], result.value, &error)) {
            std::fprintf(stderr, "arvel-plist: %s: %s\n", argv[i + 1], error.c_str());
            return 1;
        }
        return 0;
    }
    auto text = xmlPropertyListData(result.value);
    if (!text)
        return 1;
    std::fwrite(text->data(), 1, text->size(), stdout);
    return 0;
}
