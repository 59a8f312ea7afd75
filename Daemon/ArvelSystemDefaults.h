// ArvelSystemDefaults: the settings that belong to the machine rather than
// to a user — the trackpad calibration and whether a tap clicks while the
// login window is up.
//
// They live in the domain "com.tessmoor.Arvel" for any user on the current
// host, which only the root daemon may write. The object keeps a working
// copy; setters change memory only and syncToDisk makes the stored domain
// exactly the working copy. The daemon publishes the shared instance so the
// pane can edit the calibration and the login-window tap, and its
// configuration push asks it for the system part of a user's configuration
// and for the whole configuration used while nobody is logged in.
#pragma once

#include "Common/ArvelSystemDefaultsProtocol.h"
#include "Foundation/SharedInstance.h"
#include "Foundation/Value.h"

#include <memory>

class ArvelSystemDefaults final : public ArvelSystemDefaultsProtocol, public SharedInstance<ArvelSystemDefaults> {
public:
    void syncFromDisk() override;
    void syncToDisk() override;

    // {"MinX", "MinY", "MaxX", "MaxY"} of a valid stored calibration, else nil.
    Value calibration() override;
    // Stores the four values of a valid calibration (memory only); anything
    // else is ignored.
    void setCalibration(const Value& calibration) override;
    // Forgets the calibration, and removes it from the stored domain at once.
    void clearCalibration() override;
    bool loginwindowTap() override;
    void setLoginwindowTap(bool on) override;

    // {"Arvel": {"Calibration": ...}}, or {"Arvel": {}} without a calibration.
    Value hidProperties() override;
    // The full driver configuration for the login window.
    Value preloginHIDProperties();

    // A calibration is valid when "MinX" and "MinY" are present and not 0,
    // and "MaxX" and "MaxY" are present and at most 3000.
    static bool isValidCalibration(const Value& calibration);

    std::string className() const override { return "ArvelSystemDefaults"; }

private:
    ArvelSystemDefaults();
    void _migratePrefsForward();

    Value thePrefs;

    friend class SharedInstance<ArvelSystemDefaults>;
    static constexpr const char* kSharedInstanceFailure
        = "ArvelSystemDefaults error: Unable to allocate a system defaults object.\n";
};
