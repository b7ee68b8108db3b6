#include "qb/QuickBooksHome.h"

#include "platform/System.h"

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <pugixml.hpp>
#include <sstream>
#include <stdexcept>

namespace dm {

namespace fs = std::filesystem;

namespace {

bool ProcessAlive(long pid) {
    if (pid <= 0) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

void DropGoneSessions(TQbState& state) {
    size_t before = state.Sessions.size();
    std::erase_if(state.Sessions, [](const TQbSessionRecord& s) { return !ProcessAlive(s.Pid); });
    if (before != state.Sessions.size() && state.Background && state.Sessions.empty()) {
        state.Running = false;
        state.CompanyFile.clear();
        state.Background = false;
    }
}

} // namespace

std::string CanonicalFilePath(std::string_view path) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(fs::path(path), ec);
    if (ec) canonical = fs::absolute(fs::path(path)).lexically_normal();
    return canonical.string();
}

TQbState TQbState::FromXml(std::string_view xml) {
    TQbState state;
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size())) return state;
    pugi::xml_node root = doc.child("QuickBooks");
    state.Running = root.attribute("Running").as_bool();
    state.CompanyFile = root.child("CompanyFile").child_value();
    state.MultiUser = root.child("CompanyFile").attribute("MultiUser").as_bool();
    state.Background = root.child("CompanyFile").attribute("Background").as_bool();
    state.Dialog = root.child("Dialog").child_value();
    for (pugi::xml_node n : root.children("Session"))
        state.Sessions.push_back({n.attribute("Ticket").as_string(), n.attribute("App").as_string(),
                                  n.attribute("File").as_string(), n.attribute("Pid").as_int()});
    return state;
}

std::string TQbState::ToXml() const {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("QuickBooks");
    root.append_attribute("Running") = Running;
    if (!CompanyFile.empty()) {
        pugi::xml_node file = root.append_child("CompanyFile");
        file.text().set(CompanyFile.c_str());
        file.append_attribute("MultiUser") = MultiUser;
        file.append_attribute("Background") = Background;
    }
    if (!Dialog.empty()) root.append_child("Dialog").text().set(Dialog.c_str());
    for (const TQbSessionRecord& s : Sessions) {
        pugi::xml_node n = root.append_child("Session");
        n.append_attribute("Ticket") = s.Ticket.c_str();
        n.append_attribute("App") = s.AppName.c_str();
        n.append_attribute("File") = s.File.c_str();
        n.append_attribute("Pid") = static_cast<long long>(s.Pid);
    }
    std::ostringstream out;
    doc.save(out, "  ");
    return out.str();
}

void TCompanyFileStore::Use(const std::function<bool(TCompanyFile&)>& use) {
    TFileLock lock(path_, TFileLock::TMode::Exclusive);
    std::optional<TFileStamp> stamp = StampOf(path_);
    if (!stamp) {
        cached_.reset();
        throw std::runtime_error("The company file " + path_ + " does not exist.");
    }
    if (!cached_ || !(*stamp == stamp_)) {
        cached_.reset();
        std::optional<std::string> bytes = ReadWholeFile(path_);
        if (!bytes) throw std::runtime_error("The company file " + path_ + " does not exist.");
        try {
            cached_ = TCompanyFile::FromXml(*bytes);
        } catch (const std::exception&) {
            throw std::runtime_error(path_ + " is not a QuickBooks company file.");
        }
        stamp_ = *stamp;
    }
    bool changed;
    try {
        changed = use(*cached_);
    } catch (...) {
        cached_.reset(); // it may be half changed
        throw;
    }
    if (!changed) return;
    try {
        ReplaceFileAtomically(path_, cached_->ToXml());
    } catch (...) {
        cached_.reset();
        throw;
    }
    stamp_ = StampOf(path_).value_or(TFileStamp{});
}

TCompanyFile TCompanyFileStore::Read() {
    TCompanyFile copy;
    Use([&copy](TCompanyFile& file) {
        copy = file;
        return false;
    });
    return copy;
}

void TCompanyFileStore::Create(const std::string& path, const TCompanyFile& file) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    TFileLock lock(path, TFileLock::TMode::Exclusive);
    if (fs::exists(path)) throw std::runtime_error("The company file " + path + " exists already.");
    ReplaceFileAtomically(path, file.ToXml());
}

TQuickBooksHome::TQuickBooksHome(std::string folder) : folder_(std::move(folder)) {
    if (folder_.empty()) folder_ = "./";
    if (folder_.back() != '/') folder_ += '/';
    folder_ = CanonicalFilePath(folder_);
    if (folder_.back() != '/') folder_ += '/';
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (!fs::is_directory(folder_))
        throw std::runtime_error("The QuickBooks folder " + folder_ + " cannot be created.");
}

std::string TQuickBooksHome::CompanyFilePath(std::string_view pathOrName) const {
    std::string text(pathOrName);
    if (text.find('/') == std::string::npos) {
        if (!fs::path(text).has_extension()) text += ".qbw";
        return CanonicalFilePath(folder_ + text);
    }
    return CanonicalFilePath(text);
}

TQbState TQuickBooksHome::ReadState() const {
    TFileLock lock(StatePath(), TFileLock::TMode::Shared);
    std::optional<std::string> bytes = ReadWholeFile(StatePath());
    TQbState state = bytes ? TQbState::FromXml(*bytes) : TQbState{};
    DropGoneSessions(state);
    return state;
}

void TQuickBooksHome::UpdateState(const std::function<void(TQbState&)>& change) const {
    TFileLock lock(StatePath(), TFileLock::TMode::Exclusive);
    std::optional<std::string> bytes = ReadWholeFile(StatePath());
    TQbState state = bytes ? TQbState::FromXml(*bytes) : TQbState{};
    DropGoneSessions(state);
    change(state);
    ReplaceFileAtomically(StatePath(), state.ToXml());
}

void TQuickBooksHome::Start() const {
    UpdateState([](TQbState& s) { s.Running = true; });
}

void TQuickBooksHome::Quit() const {
    UpdateState([](TQbState& s) { s = TQbState{}; });
}

void TQuickBooksHome::OpenCompanyFile(const std::string& path, bool multiUser) const {
    std::string file = CanonicalFilePath(path);
    UpdateState([&](TQbState& s) {
        TCompanyFileStore(file).Read(); // refuses what is not a company file
        if (s.CompanyFile != file) s.Sessions.clear();
        s.Running = true;
        s.CompanyFile = file;
        s.MultiUser = multiUser;
        s.Background = false;
    });
}

void TQuickBooksHome::CloseCompanyFile() const {
    UpdateState([](TQbState& s) {
        s.CompanyFile.clear();
        s.Background = false;
        s.MultiUser = false;
        s.Sessions.clear();
    });
}

void TQuickBooksHome::ShowDialog(const std::string& title) const {
    UpdateState([&](TQbState& s) {
        if (!s.Running) throw std::runtime_error("QuickBooks is not running.");
        s.Dialog = title.empty() ? "QuickBooks Information" : title;
    });
}

void TQuickBooksHome::ClearDialog() const {
    UpdateState([](TQbState& s) { s.Dialog.clear(); });
}

} // namespace dm
