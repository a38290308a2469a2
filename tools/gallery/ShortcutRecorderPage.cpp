// The shortcut recorder in each of its states, with the default panel
// shortcut, on a US keyboard whose Ctrl+Alt+Super+D another program holds.
#include "tools/gallery/GalleryRegistry.hpp"

#include "platform/FakeKeyGrabber.hpp"
#include "services/GlobalHotkeyMonitor.hpp"
#include "windows/ShortcutRecorderView.hpp"

#include <QWidget>

#include <memory>

namespace brindleaf::gallery {

namespace {

const HotkeyShortcut panelDefault{1, 6400};
const HotkeyShortcut windowDefault{0, 6400};

std::unique_ptr<ShortcutRecorderView> recorder(HotkeyShortcut shortcut) {
    auto model = std::make_unique<ShortcutRecorderModel>(
        shortcut, panelDefault,
        [](const HotkeyShortcut& pressed) {
            if (!pressed.hasRequiredModifier()) return ShortcutChangeResult::needsModifier;
            if (pressed == windowDefault) return ShortcutChangeResult::duplicate;
            return ShortcutChangeResult::accepted;
        },
        [] {}, GlobalHotkeyMonitor::toggleHotkeyID);
    auto view = std::make_unique<ShortcutRecorderView>(std::move(model));
    view->setFixedWidth(300);
    view->setAutoFillBackground(true);
    return view;
}

void save(GalleryOutput& out, const QString& name, ShortcutRecorderView& view) {
    view.adjustSize();
    out.savePNG("shortcut-recorder/" + name, view.grab().toImage());
}

void renderShortcutRecorder(GalleryOutput& out) {
    auto keyboard = std::make_shared<FakeKeyGrabber>();
    for (auto [name, text] : {std::pair{"AC01", "a"}, {"AC02", "s"}, {"AC03", "d"}}) keyboard->setKeyText(name, text);
    keyboard->takeByOtherProgram({"AC03", keyModifierControl | keyModifierAlt | keyModifierSuper});
    GlobalHotkeyMonitor::setKeyGrabber(keyboard);
    {
        GlobalHotkeyMonitor panel(GlobalHotkeyMonitor::toggleHotkeyID, [] {});
        panel.registerShortcut(panelDefault);

        auto idle = recorder(panelDefault);
        save(out, "idle-default", *idle);

        auto custom = recorder({2, 4096 | 512});
        save(out, "idle-custom", *custom);

        auto recording = recorder(panelDefault);
        recording->model().pressRecordButton();
        save(out, "recording", *recording);
        recording->model().keyDown(0, 512);
        save(out, "needs-modifier", *recording);
        recording->model().keyDown(0, 6400);
        save(out, "duplicate", *recording);
        recording->model().stopRecording();

        panel.registerShortcut({2, 6400});
        auto taken = recorder({2, 6400});
        save(out, "taken-by-another-app", *taken);

        auto noServerKeyboard = std::make_shared<FakeKeyGrabber>(nullptr, false);
        noServerKeyboard->setKeyText("AC02", "s");
        GlobalHotkeyMonitor::setKeyGrabber(noServerKeyboard);
        panel.registerShortcut(panelDefault);
        auto noServer = recorder(panelDefault);
        save(out, "no-x-server", *noServer);

        // A Wayland session: the desktop portal's shortcuts.
        auto portal = std::make_shared<FakeKeyGrabber>(nullptr, false);
        portal->setKeyText("AC02", "s");
        portal->setUnavailableStatus(KeyGrabResult::noPortal);
        GlobalHotkeyMonitor::setKeyGrabber(portal);
        panel.registerShortcut(panelDefault);
        auto noPortal = recorder(panelDefault);
        save(out, "no-portal", *noPortal);
        portal->setAvailable(true);
        portal->setBoundTrigger(GlobalHotkeyMonitor::toggleHotkeyID, "Meta+Ctrl+Alt+K");
        portal->announceChange();
        auto usersKey = recorder(panelDefault);
        save(out, "desktop-keeps-users-key", *usersKey);
    }
    GlobalHotkeyMonitor::setKeyGrabber(nullptr);
}

const bool registered = registerGalleryPage({"shortcut-recorder", renderShortcutRecorder});

} // namespace

} // namespace brindleaf::gallery
