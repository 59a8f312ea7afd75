#include "LaunchServices/LSOpen.h"

#include "MachineLink/MachineLink.h"

OSStatus LSOpenFromURLSpec(const LSLaunchURLSpec* inLaunchSpec, CFURLRef* outLaunchedURL)
{
    if (!inLaunchSpec || !inLaunchSpec->appURL || inLaunchSpec->passThruParams)
        return paramErr;
    auto& link = MachineLink::shared();
    if (int r = link.take("LSOpenFromURLSpec"))
        return r;
    std::vector<std::string> documents;
    if (inLaunchSpec->itemURLs) {
        for (const CFURLRef& item : *inLaunchSpec->itemURLs) {
            if (!item)
                return paramErr;
            documents.push_back(item->path());
        }
    }
    if (documents.size() > machine::kMaxOpenArguments)
        return paramErr;
    // The machine knows who asks: nothing here says whom to open it as.
    auto opened = link.call(ops::openApplication, inLaunchSpec->appURL->path(), machine::OpenArguments(std::move(documents)));
    if (opened.code != noErr)
        return opened.code;
    if (outLaunchedURL)
        *outLaunchedURL = inLaunchSpec->appURL;
    return noErr;
}
