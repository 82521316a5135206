// The built zephlardll.dll's dialog templates and manifest, read from the DLL
// mapped as a data file: the templates' styles and the controls the code
// uses, and what the manifest names and asks for.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/dll/DllResource.h"

namespace {

// ---------------------------------------------------------------- dialogs

struct DialogItem {
  uint32_t style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string windowClass, text;
};

struct DialogTemplate {
  bool valid = false;
  uint32_t style = 0;
  int cx = 0, cy = 0;
  std::map<uint32_t, DialogItem> items;
};

// Reads a template's fields in order; a string or ordinal field is "" when
// absent, "#n" for an ordinal.
class TemplateReader {
 public:
  explicit TemplateReader(Blob blob) : blob_(blob) {}
  bool ok() const { return ok_; }
  uint16_t Word() { return Take(2) ? U16(blob_.data + pos_ - 2) : 0; }
  uint32_t Dword() { return Take(4) ? U32(blob_.data + pos_ - 4) : 0; }
  int Short() { return static_cast<int16_t>(Word()); }
  void AlignDword() { pos_ = (pos_ + 3) & ~size_t{3}; }
  void Skip(size_t n) { Take(n); }
  std::string StringOrOrdinal() {
    const uint16_t first = Word();
    if (first == 0) return "";
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    return std::string(1, static_cast<char>(first)) + String();
  }
  std::string String() {
    std::string text;
    for (uint16_t c = Word(); ok_ && c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }

 private:
  bool Take(size_t n) {
    if (!ok_ || pos_ + n > blob_.size) {
      ok_ = false;
      return false;
    }
    pos_ += n;
    return true;
  }
  Blob blob_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// A template in either form, DIALOG or DIALOGEX: the dialog's style and size
// and its controls by id.
DialogTemplate ReadDialog(int id) {
  DialogTemplate d;
  const Blob blob = Resource(kDialog, id);
  if (blob.data == nullptr) return d;
  TemplateReader r(blob);
  const bool extended = blob.size >= 4 && U16(blob.data) == 1 && U16(blob.data + 2) == 0xFFFF;
  if (extended) r.Skip(12);  // version, signature, help id, extended style
  d.style = r.Dword();
  if (!extended) r.Dword();  // extended style
  const int count = r.Word();
  r.Skip(4);  // x, y
  d.cx = r.Short();
  d.cy = r.Short();
  r.StringOrOrdinal();  // menu
  r.StringOrOrdinal();  // class
  r.String();           // title
  if (d.style & DS_SETFONT) {
    r.Skip(extended ? 6 : 2);  // point size, and weight, italic and charset
    r.String();                // face
  }
  for (int i = 0; i < count && r.ok(); ++i) {
    DialogItem item;
    r.AlignDword();
    if (extended) r.Dword();  // help id
    if (extended) r.Dword();  // extended style
    item.style = r.Dword();
    if (!extended) r.Dword();  // extended style
    item.x = r.Short();
    item.y = r.Short();
    item.cx = r.Short();
    item.cy = r.Short();
    const uint32_t itemId = extended ? r.Dword() : r.Word();
    item.windowClass = r.StringOrOrdinal();
    item.text = r.StringOrOrdinal();
    r.Skip(r.Word());  // creation data
    d.items[itemId] = item;
  }
  d.valid = r.ok() && static_cast<int>(d.items.size()) == count;
  return d;
}

// A button the code presses, looks up, hides or renames.
struct ButtonUse {
  uint32_t id;
  const char* text;
  bool isDefault;  // Enter presses it
  bool visible;
};

// Both windows take their shape from their artwork and paint their whole
// client area, so neither has a caption or a frame; the wizard shows itself
// centred, the panel only when asked to, in front. Each holds just the buttons
// the code uses, inside the dialog: the wizard's hidden ones carry the
// commands its drawn buttons send; the panel's are hidden by the progress
// window and renamed by the device search.
TEST(DllResourcesDialogs, AreFramelessPopupsWithTheButtonsTheCodeUses) {
  const struct {
    int id;
    bool visible;
    uint32_t placement;  // DS_ styles the dialog must have
    std::vector<ButtonUse> buttons;
  } dialogs[] = {
      {IDD_WIZARD,
       true,
       DS_CENTER,
       {{ID_WIZARD_NEXT, "Next", true, false},
        {ID_WIZARD_BACK, "Back", false, false},
        {ID_WIZARD_CANCEL, "Cancel", false, false}}},
      {IDD_PANEL,
       false,
       DS_CENTER | DS_SETFOREGROUND,
       {{IDOK, "Continue", true, true}, {IDCANCEL, "Cancel", false, true}}},
  };
  for (const auto& dialog : dialogs) {
    SCOPED_TRACE("dialog " + std::to_string(dialog.id));
    const DialogTemplate d = ReadDialog(dialog.id);
    ASSERT_TRUE(d.valid);
    EXPECT_EQ(d.style & (WS_POPUP | WS_CHILD), static_cast<uint32_t>(WS_POPUP));
    EXPECT_EQ(d.style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | DS_MODALFRAME), 0u)
        << "a caption or a frame";
    EXPECT_EQ((d.style & WS_VISIBLE) != 0, dialog.visible);
    EXPECT_EQ(d.style & dialog.placement, dialog.placement);
    EXPECT_EQ(d.items.size(), dialog.buttons.size());
    for (const ButtonUse& button : dialog.buttons) {
      SCOPED_TRACE("control " + std::to_string(button.id));
      ASSERT_EQ(d.items.count(button.id), 1u);
      const DialogItem& item = d.items.at(button.id);
      EXPECT_EQ(item.windowClass, "#128");  // the predefined button class
      EXPECT_EQ(item.text, button.text);
      EXPECT_EQ(item.style & 0xF, button.isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
      EXPECT_EQ((item.style & WS_VISIBLE) != 0, button.visible);
      EXPECT_TRUE(item.style & WS_CHILD);
      EXPECT_TRUE(item.x >= 0 && item.y >= 0 && item.cx > 0 && item.cy > 0 &&
                  item.x + item.cx <= d.cx && item.y + item.cy <= d.cy)
          << "outside the dialog";
    }
  }
}

// --------------------------------------------------------------- manifest

// The attributes of the first element named tag in xml, or an empty map.
std::map<std::string, std::string> Attributes(const std::string& xml, const std::string& tag) {
  const std::string blanks = " \t\r\n";
  size_t at = xml.find("<" + tag);
  while (at != std::string::npos && blanks.find(xml[at + tag.size() + 1]) == std::string::npos) {
    at = xml.find("<" + tag, at + 1);
  }
  if (at == std::string::npos) return {};
  const size_t end = xml.find('>', at);
  std::map<std::string, std::string> attributes;
  for (size_t pos = at + tag.size() + 1;;) {
    const size_t eq = xml.find('=', pos);
    if (eq == std::string::npos || eq > end) break;
    const size_t nameStart = xml.find_first_not_of(blanks, pos);
    const size_t nameEnd = xml.find_last_not_of(blanks, eq - 1) + 1;
    const size_t open = xml.find('"', eq);
    const size_t close = xml.find('"', open + 1);
    if (close == std::string::npos) break;
    attributes[xml.substr(nameStart, nameEnd - nameStart)] = xml.substr(open + 1, close - open - 1);
    pos = close + 1;
  }
  return attributes;
}

// The text between the first <tag> and the </tag> after it.
std::string Element(const std::string& xml, const std::string& tag) {
  const size_t open = xml.find("<" + tag + ">");
  const size_t close = xml.find("</" + tag + ">", open);
  if (open == std::string::npos || close == std::string::npos) return "";
  return xml.substr(open + tag.size() + 2, close - open - tag.size() - 2);
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(DllResourcesManifest, NamesTheLibraryAndAsksForCommonControls6) {
  const Blob blob = Resource(kManifest, 1);
  ASSERT_NE(blob.data, nullptr);
  const std::string xml(reinterpret_cast<const char*>(blob.data), blob.size);
  EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
  EXPECT_EQ(Attributes(xml, "assembly")["manifestVersion"], "1.0");
  const std::map<std::string, std::string> self = {{"processorArchitecture", "x86"},
                                                   {"version", "5.1.0.0"},
                                                   {"type", "win32"},
                                                   {"name", "zephlardll.dll"}};
  EXPECT_EQ(Attributes(xml, "assemblyIdentity"), self);
  EXPECT_EQ(Element(xml, "description"), "Zephlar");

  EXPECT_EQ(Count(xml, "<dependentAssembly>"), 1);
  EXPECT_EQ(Count(xml, "<assemblyIdentity"), 2);
  const std::map<std::string, std::string> controls = {
      {"type", "win32"},      {"name", "Microsoft.Windows.Common-Controls"},
      {"version", "6.0.0.0"}, {"publicKeyToken", "6595b64144ccf1df"},
      {"language", "*"},      {"processorArchitecture", "x86"}};
  EXPECT_EQ(
      Attributes(Element(Element(xml, "dependency"), "dependentAssembly"), "assemblyIdentity"),
      controls);
}

}  // namespace
