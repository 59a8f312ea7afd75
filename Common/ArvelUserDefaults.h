// ArvelUserDefaults: one user's trackpad settings, and the dictionaries the
// driver takes.
//
// The settings live in the user's persistent domain "com.tessmoor.Arvel".
// The object keeps a working copy of that domain: typed getters read it
// with a default and a valid range per setting (anything wrongly typed or
// out of range reads as the default, never clamped), setters change the
// working copy only when the new value is valid, and nothing reaches disk
// until syncToDisk, which stores what the working copy changed since it was
// read, keeping what another process saved meanwhile under other keys.
// syncFromDisk takes up what another process saved.
//
// The store belongs to the user who was the process's effective user when
// it was created: the daemon, after switching its effective id and resetting
// the standard user-defaults object, creates its own store with create()
// to read that user's settings; the pane and the agent keep the shared one.
//
// Two system pointer settings (trackpad speed, double-click speed) live in
// the user's global preferences instead; they are read and written there at
// once and are not part of the domain.
#pragma once

#include "Common/ArvelActionPairs.h"
#include "Foundation/SharedInstance.h"
#include "Foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class NSUserDefaults;

class ArvelUserDefaults : public SharedInstance<ArvelUserDefaults> {
public:
    // A new store read afresh from the effective user's domain (and brought
    // to the current format); nil when it cannot be created.
    static std::shared_ptr<ArvelUserDefaults> create();

    // Replaces the working copy with the stored domain.
    void syncFromDisk();
    // Stores the working copy as the domain (the keys it changed, over what
    // is stored now), then reads it back.
    void syncToDisk();

    // Typed settings.
    std::int32_t trackpadButtonAction() const;
    void setTrackpadButtonAction(std::int32_t action);
    ArvelTapActionAndGesture trackpadTapActionAndGesture() const;
    void setTrackpadTapActionAndGesture(const ArvelTapActionAndGesture& pair);
    bool mouseKeepMoving() const;
    void setMouseKeepMoving(bool on);
    std::int32_t verticalScroll() const;
    void setVerticalScroll(std::int32_t mode);
    std::int32_t verticalScrollSize() const;
    void setVerticalScrollSize(std::int32_t size);
    bool invertVerticalScroll() const;
    void setInvertVerticalScroll(bool on);
    std::int32_t horizontalScroll() const;
    void setHorizontalScroll(std::int32_t mode);
    std::int32_t horizontalScrollSize() const;
    void setHorizontalScrollSize(std::int32_t size);
    bool invertHorizontalScroll() const;
    void setInvertHorizontalScroll(bool on);
    std::int32_t verticalScrollScale() const;
    void setVerticalScrollScale(std::int32_t scale);
    std::int32_t horizontalScrollScale() const;
    void setHorizontalScrollScale(std::int32_t scale);
    bool scrollKeepMoving() const;
    void setScrollKeepMoving(bool on);
    ArvelCornerActionAndData nwCornerActionAndData() const;
    void setNWCornerActionAndData(const ArvelCornerActionAndData& pair);
    ArvelCornerActionAndData neCornerActionAndData() const;
    void setNECornerActionAndData(const ArvelCornerActionAndData& pair);
    ArvelCornerActionAndData swCornerActionAndData() const;
    void setSWCornerActionAndData(const ArvelCornerActionAndData& pair);
    ArvelCornerActionAndData seCornerActionAndData() const;
    void setSECornerActionAndData(const ArvelCornerActionAndData& pair);
    // Reads 10..20; stores 5..25 (a stored 5..9 or 21..25 reads as 15).
    std::int32_t cornerSize() const;
    void setCornerSize(std::int32_t size);
    bool ignoreWhileExternalMouse() const;
    void setIgnoreWhileExternalMouse(bool on);
    bool ignoreWhileTyping() const;
    void setIgnoreWhileTyping(bool on);
    std::int32_t ignoreWhileTypingMS() const;
    void setIgnoreWhileTypingMS(std::int32_t milliseconds);
    bool ignoreWhileTypingEdgeFilter() const;
    void setIgnoreWhileTypingEdgeFilter(bool on);
    bool ignoreWhileTypingMotionOverride() const;
    void setIgnoreWhileTypingMotionOverride(bool on);
    bool ignoreTapInScroll() const;
    void setIgnoreTapInScroll(bool on);
    bool convertOffAxis() const;
    void setConvertOffAxis(bool on);
    std::int32_t tapThreshold() const;
    void setTapThreshold(std::int32_t threshold);
    std::int32_t accelerationTable() const;
    void setAccelerationTable(std::int32_t table);
    std::int32_t dragReleaseMS() const;
    void setDragReleaseMS(std::int32_t milliseconds);
    std::int32_t mouseKeepMovingSize() const;
    void setMouseKeepMovingSize(std::int32_t size);
    std::int32_t scrollKeepMovingSize() const;
    void setScrollKeepMovingSize(std::int32_t size);
    bool moveToDefaultButton() const;
    void setMoveToDefaultButton(bool on);
    bool noAccessibilityWarn() const;
    void setNoAccessibilityWarn(bool on);

    // Application sets: per-application corners, keyed by application ID.
    std::vector<std::string> applicationIDs() const;
    // The set's name, "" when there is none.
    std::string applicationNameForID(std::string_view appID) const;
    // Makes sure a set exists (an existing one keeps its corners) and, when
    // a name is given, names it.
    void createApplicationSetForIDWithName(std::string_view appID, const std::optional<std::string>& name);
    bool hasApplicationSetForID(std::string_view appID) const;
    void removeApplicationSetForID(std::string_view appID);
    ArvelCornerActionAndData nwCornerActionAndDataForAppID(std::string_view appID) const;
    ArvelCornerActionAndData neCornerActionAndDataForAppID(std::string_view appID) const;
    ArvelCornerActionAndData swCornerActionAndDataForAppID(std::string_view appID) const;
    ArvelCornerActionAndData seCornerActionAndDataForAppID(std::string_view appID) const;
    // Store into an existing set only; without a set nothing is stored.
    void setNWCornerActionAndDataForAppID(const ArvelCornerActionAndData& pair, std::string_view appID);
    void setNECornerActionAndDataForAppID(const ArvelCornerActionAndData& pair, std::string_view appID);
    void setSWCornerActionAndDataForAppID(const ArvelCornerActionAndData& pair, std::string_view appID);
    void setSECornerActionAndDataForAppID(const ArvelCornerActionAndData& pair, std::string_view appID);

    // System pointer settings: 0.5 when absent; setters accept 0.0..1.7 and
    // 0.2..5.0 (NaN never) and ignore anything else.
    double trackpadSpeed() const;
    void setTrackpadSpeed(double speed);
    double doubleClickSpeed() const;
    void setDoubleClickSpeed(double seconds);

    // The driver property dictionary {"Arvel": {29 entries}} of the working
    // copy, unsaved changes included.
    Value hidProperties() const;
    // The same, over the system's "Arvel" entries (the calibration); on
    // equal keys the user's entry wins. A nil or malformed system dictionary
    // adds nothing.
    Value hidPropertiesWithSystemHIDProperties(const Value& systemProperties) const;
    // {"ApplicationSet": {}}: no application override applies.
    static Value emptyAppProperties();
    // {"ApplicationSet": {the four corners}} for an application with a set,
    // else the empty form.
    Value propertiesForAppID(std::string_view appID) const;

private:
    ArvelUserDefaults();

    ArvelCornerActionAndData _cornerActionAndDataForCornerFromDict(std::string_view corner, const Value* dict) const;
    void _setCornerActionAndDataForCornerForDict(
        const ArvelCornerActionAndData& pair, std::string_view corner, Value* dict);
    void _migratePrefsForward();

    const Value* applicationSet(std::string_view appID) const;
    Value* mutableApplicationSet(std::string_view appID);

    std::shared_ptr<NSUserDefaults> theDefaults;
    Value thePrefs;

    friend class SharedInstance<ArvelUserDefaults>;
    static constexpr const char* kSharedInstanceFailure
        = "ArvelUserDefaults error: Unable to allocate a user defaults object.\n";
};
