#include "AppKitGUI/NSOpenPanel.h"

#include "AppKitGUI/GUIApplication.h"
#include "AppKitGUI/WindowReporter.h"
#include "Paths/DiskRoot.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
// A folder with more entries is shown cut short: the panel must not grow
// without bound on a folder someone filled.
constexpr int kMaxEntries = 2000;
constexpr int kFolderRole = Qt::UserRole + 1;

std::string extensionOf(const std::string& name)
{
    auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}
} // namespace

NSOpenPanel* NSOpenPanel::openPanel()
{
    return new NSOpenPanel();
}

NSOpenPanel::NSOpenPanel()
{
    setObjectName(QStringLiteral("openPanel"));
    setWindowTitle(QStringLiteral("Open"));
    setProperty(WindowReporter::kKindProperty, QStringLiteral("sheet"));
    setAttribute(Qt::WA_DeleteOnClose);
    where_ = new QLabel(this);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("openPanelList"));
    prompt_ = new QPushButton(QStringLiteral("Open"), this);
    prompt_->setObjectName(QStringLiteral("openPanelPrompt"));
    prompt_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("openPanelCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addWidget(prompt_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(where_);
    layout->addWidget(list_);
    layout->addLayout(buttons);
    resize(420, 320);
    connect(cancel_, &QPushButton::clicked, this, [this] { finish(NSCancelButton); });
    connect(prompt_, &QPushButton::clicked, this, [this] {
        if (QListWidgetItem* item = list_->currentItem())
            activate(item->text().toStdString());
    });
    connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) { activate(item->text().toStdString()); });
}

void NSOpenPanel::setPrompt(const std::string& prompt)
{
    prompt_->setText(QString::fromStdString(prompt));
}

bool NSOpenPanel::offers(const std::string& host, bool isFolder) const
{
    const std::string name = fs::path(host).filename().string();
    const std::string extension = extensionOf(name);
    bool bundle = isFolder && extension == "app";
    if (isFolder && !bundle)
        return true;
    if (types_.empty())
        return true;
    for (const std::string& type : types_) {
        if (bundle && (type == "app" || type == "APPL"))
            return true;
        if (!isFolder && type == extension)
            return true;
    }
    return false;
}

void NSOpenPanel::show(const std::string& directory)
{
    directory_ = normalizeSystemPath(directory.empty() ? "/" : directory);
    where_->setText(QString::fromStdString(directory_));
    list_->clear();
    std::vector<std::pair<std::string, bool>> found;
    std::error_code error;
    for (fs::directory_iterator it(hostPath(directory_), error), end; !error && it != end; it.increment(error)) {
        if (found.size() >= static_cast<std::size_t>(kMaxEntries))
            break;
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.')
            continue;
        // Links are shown as what they are, never followed off the disk.
        std::error_code kindError;
        bool folder = it->is_directory(kindError) && !it->is_symlink(kindError);
        if (offers(it->path().string(), folder))
            found.emplace_back(name, folder && extensionOf(name) != "app");
    }
    std::sort(found.begin(), found.end());
    for (const auto& [name, folder] : found) {
        auto* item = new QListWidgetItem(QString::fromStdString(folder ? name + "/" : name), list_);
        item->setData(kFolderRole, folder);
    }
}

std::vector<std::string> NSOpenPanel::entries() const
{
    std::vector<std::string> out;
    for (int i = 0; i < list_->count(); ++i)
        out.push_back(list_->item(i)->text().toStdString());
    return out;
}

void NSOpenPanel::select(const std::string& name)
{
    for (int i = 0; i < list_->count(); ++i)
        if (list_->item(i)->text().toStdString() == name)
            list_->setCurrentRow(i);
}

bool NSOpenPanel::activate(const std::string& name)
{
    for (int i = 0; i < list_->count(); ++i) {
        QListWidgetItem* item = list_->item(i);
        if (item->text().toStdString() != name)
            continue;
        std::string base = directory_ == "/" ? "" : directory_;
        if (item->data(kFolderRole).toBool()) {
            show(base + "/" + name.substr(0, name.size() - 1));
        } else {
            chosen_ = {base + "/" + name};
            finish(NSOKButton);
        }
        return true;
    }
    return false;
}

void NSOpenPanel::beginSheetForDirectoryFileTypesModalForWindow(const std::string& directory, const std::string& file,
    std::vector<std::string> types, QWidget* documentWindow, DidEnd didEnd)
{
    types_ = std::move(types);
    didEnd_ = std::move(didEnd);
    show(directory);
    if (!file.empty())
        select(file);
    if (auto* application = GUIApplication::shared())
        application->beginSheetModalForWindow(this, documentWindow, [](int) {});
    else
        QDialog::show();
}

void NSOpenPanel::finish(int code)
{
    if (code != NSOKButton)
        chosen_.clear();
    if (auto* application = GUIApplication::shared())
        application->endSheet(this, code);
    DidEnd didEnd = std::move(didEnd_);
    hide();
    if (didEnd)
        didEnd(this, code);
    close();
}
