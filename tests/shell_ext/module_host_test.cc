// Loads the real Nautilus module the way Nautilus does (dlopen from an
// extension directory, nautilus_module_initialize with a GTypeModule,
// nautilus_module_list_types, one object per type) and drives its menu
// provider with file-info objects of its own.
#include <dlfcn.h>
#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

// Nautilus's header declares the module entry points without C linkage.
extern "C" {
#include <nautilus-extension.h>
}

#include "shell_ext_test_util.h"
#include "vesk/core/base64.h"
#include "vesk/core/file_util.h"
#include "vesk/core/registry.h"

namespace vesk::shell_ext_test {
namespace {

constexpr char kContextMenuKey[] = "Software\\Kestrow\\NewPelicard\\ContextMenu";
constexpr char kContextMenuParamKey[] = "Software\\Kestrow\\NewPelicard\\ContextMenuParam";

// --- The host's GTypeModule, as Nautilus's own: loads the file, looks up the
// three entry points and hands itself to nautilus_module_initialize.
struct HostModule {
  GTypeModule parent;
};
struct HostModuleClass {
  GTypeModuleClass parent;
};

std::string g_module_path;
void (*g_list_types)(const GType**, int*) = nullptr;

gboolean LoadHostModule(GTypeModule* module) {
  void* handle = dlopen(g_module_path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (!handle) {
    ADD_FAILURE() << dlerror();
    return FALSE;
  }
  auto initialize = reinterpret_cast<void (*)(GTypeModule*)>(dlsym(handle, "nautilus_module_initialize"));
  g_list_types = reinterpret_cast<void (*)(const GType**, int*)>(dlsym(handle, "nautilus_module_list_types"));
  if (!initialize || !g_list_types || !dlsym(handle, "nautilus_module_shutdown")) return FALSE;
  initialize(module);
  return TRUE;
}

void UnloadHostModule(GTypeModule*) {}  // Nautilus keeps its modules loaded too.

GType HostModuleType() {
  static const GType type = g_type_register_static_simple(
      G_TYPE_TYPE_MODULE, "VeskTestHostModule", sizeof(HostModuleClass),
      [](gpointer klass, gpointer) {
        G_TYPE_MODULE_CLASS(klass)->load = LoadHostModule;
        G_TYPE_MODULE_CLASS(klass)->unload = UnloadHostModule;
      },
      sizeof(HostModule), nullptr, GTypeFlags(0));
  return type;
}

// --- File-info objects of the test's own, as Nautilus's NautilusFile.
struct TestFileInfo {
  GObject parent;
  gchar* uri;
  gboolean directory;
};
struct TestFileInfoClass {
  GObjectClass parent;
};

GType TestFileInfoType() {
  static const GType type = [] {
    const GType registered = g_type_register_static_simple(
        G_TYPE_OBJECT, "VeskTestFileInfo", sizeof(TestFileInfoClass),
        [](gpointer klass, gpointer) {
          G_OBJECT_CLASS(klass)->finalize = [](GObject* object) {
            g_free(reinterpret_cast<TestFileInfo*>(object)->uri);
            G_OBJECT_CLASS(g_type_class_peek(G_TYPE_OBJECT))->finalize(object);
          };
        },
        sizeof(TestFileInfo), nullptr, GTypeFlags(0));
    static const GInterfaceInfo info = {
        [](gpointer iface, gpointer) {
          auto* file_info = static_cast<NautilusFileInfoInterface*>(iface);
          file_info->is_gone = [](NautilusFileInfo*) -> gboolean { return FALSE; };
          file_info->get_uri = [](NautilusFileInfo* self) {
            return g_strdup(reinterpret_cast<TestFileInfo*>(self)->uri);
          };
          file_info->get_uri_scheme = [](NautilusFileInfo* self) {
            return g_uri_parse_scheme(reinterpret_cast<TestFileInfo*>(self)->uri);
          };
          file_info->get_location = [](NautilusFileInfo* self) {
            return g_file_new_for_uri(reinterpret_cast<TestFileInfo*>(self)->uri);
          };
          file_info->is_directory = [](NautilusFileInfo* self) {
            return reinterpret_cast<TestFileInfo*>(self)->directory;
          };
        },
        nullptr, nullptr};
    g_type_add_interface_static(registered, NAUTILUS_TYPE_FILE_INFO, &info);
    return registered;
  }();
  return type;
}

struct Selected {
  std::string uri;
  bool directory = false;
};

std::string FileUri(const std::string& path) {
  g_autofree gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  return uri;
}

// Loads the module once per process from <root>/extensions, where it is
// linked as registration links it, and makes its provider.
NautilusMenuProvider* Provider() {
  static NautilusMenuProvider* provider = [] {
    const std::string extension_dir = MakeDirectory("extensions");
    g_module_path = JoinPath(extension_dir, "pelicard_shell_ext.so");
    EXPECT_EQ(::symlink(VESK_TEST_MODULE, g_module_path.c_str()), 0);
    GTypeModule* module = G_TYPE_MODULE(g_object_new(HostModuleType(), nullptr));
    g_type_module_set_name(module, g_module_path.c_str());
    if (!g_type_module_use(module)) return static_cast<NautilusMenuProvider*>(nullptr);
    const GType* types = nullptr;
    int count = 0;
    g_list_types(&types, &count);
    EXPECT_EQ(count, 1);
    if (count < 1) return static_cast<NautilusMenuProvider*>(nullptr);
    GObject* object = G_OBJECT(g_object_new(types[0], nullptr));
    EXPECT_TRUE(NAUTILUS_IS_MENU_PROVIDER(object));
    return NAUTILUS_MENU_PROVIDER(object);
  }();
  return provider;
}

std::string RecordPath() { return JoinPath(DirName(g_module_path), "pelicard_shell_ext.ini"); }

void WriteRecord(const std::string& program_dir) {
  ASSERT_TRUE(WriteStringToFile(RecordPath(), "[Program]\nDirectory=" + program_dir + "\n"));
}

// The items the provider offers for a selection; owns them.
class MenuItems {
 public:
  explicit MenuItems(const std::vector<Selected>& selection) {
    GList* files = nullptr;
    for (const Selected& selected : selection) {
      auto* info = static_cast<TestFileInfo*>(g_object_new(TestFileInfoType(), nullptr));
      info->uri = g_strdup(selected.uri.c_str());
      info->directory = selected.directory;
      files = g_list_append(files, info);
    }
    items_ = nautilus_menu_provider_get_file_items(Provider(), files);
    nautilus_file_info_list_free(files);
  }
  ~MenuItems() {
    if (items_) nautilus_menu_item_list_free(items_);
  }
  MenuItems(const MenuItems&) = delete;
  MenuItems& operator=(const MenuItems&) = delete;

  size_t size() const { return g_list_length(items_); }
  NautilusMenuItem* first() const { return items_ ? NAUTILUS_MENU_ITEM(items_->data) : nullptr; }
  std::string Property(const char* name) const {
    g_autofree gchar* value = nullptr;
    g_object_get(first(), name, &value, nullptr);
    return value ? value : "";
  }

 private:
  GList* items_ = nullptr;
};

std::vector<Selected> ThreeFiles() {
  return {{FileUri("/home/u/b.txt")}, {FileUri("/home/u/文件 a.pdf")}, {FileUri("/home/u/c")}};
}

class ModuleHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Provider());
    RemoveRegistry();
  }
};

TEST_F(ModuleHostTest, ThreeSelectedFilesGetOneItemWithOurLabelTipAndIcon) {
  MenuItems items(ThreeFiles());
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items.Property("label"), "上传文件到邮箱网盘");
  EXPECT_EQ(items.Property("tip"), "上传文件到凯斯卓邮箱网盘");
  EXPECT_EQ(items.Property("icon"), "pelicard-upload");
}

TEST_F(ModuleHostTest, DisabledValueIsReadForEveryMenu) {
  RegistryStore registry(RegistryStore::Scope::kCurrentUser);
  ASSERT_TRUE(registry.WriteDword(kContextMenuKey, "Disabled", 1));
  EXPECT_EQ(MenuItems(ThreeFiles()).size(), 0u);
  ASSERT_TRUE(registry.WriteDword(kContextMenuKey, "Disabled", 0));
  EXPECT_EQ(MenuItems(ThreeFiles()).size(), 1u);
  // Only a number hides it: a string counts as 0.
  ASSERT_TRUE(registry.WriteString(kContextMenuKey, "Disabled", "1"));
  EXPECT_EQ(MenuItems(ThreeFiles()).size(), 1u);
  ASSERT_TRUE(registry.WriteDword(kContextMenuKey, "Disabled", 7));
  EXPECT_EQ(MenuItems(ThreeFiles()).size(), 0u);
}

TEST_F(ModuleHostTest, OnlyLocalFilesTakePart) {
  EXPECT_EQ(MenuItems({{"sftp://host/home/u/a.txt"}, {"trash:///a.txt"}}).size(), 0u);
  EXPECT_EQ(MenuItems({{FileUri("/home/u"), true}}).size(), 0u);
  EXPECT_EQ(MenuItems({{"file://otherhost/a.txt"}}).size(), 0u);
  EXPECT_EQ(MenuItems({}).size(), 0u);

  StandInProgram program;
  WriteRecord(program.dir());
  MenuItems mixed({{"sftp://host/x"}, {FileUri("/home/u/a b.txt")}, {FileUri("/home/u"), true}});
  ASSERT_EQ(mixed.size(), 1u);
  nautilus_menu_item_activate(mixed.first());
  const auto argv = program.WaitForCommandLine();
  ASSERT_GE(argv.size(), 2u);
  std::string request;
  ASSERT_TRUE(ReadFileToString(*Base64Decode(argv[1].substr(argv[1].find('=') + 1)), &request, 4096));
  EXPECT_EQ(request, std::string("{\"command\":\"\",\"data\":[\"/home/u/a b.txt\"]}\n") + '\0');
}

TEST_F(ModuleHostTest, ChoosingTheItemWritesTheRequestAndStartsTheLauncher) {
  StandInProgram program;
  WriteRecord(program.dir());
  RegistryStore registry(RegistryStore::Scope::kCurrentUser);
  ASSERT_TRUE(registry.WriteString(kContextMenuParamKey, "", "--vesk-startup=tray  \"two words\""));
  const auto before = ListDirectory(Environment().tmp_dir);

  MenuItems items(ThreeFiles());
  ASSERT_EQ(items.size(), 1u);
  nautilus_menu_item_activate(items.first());
  const auto argv = program.WaitForCommandLine();

  ASSERT_EQ(argv.size(), 5u) << "launcher, one switch, three words";
  EXPECT_EQ(argv[0], JoinPath(program.dir(), "pelicard"));
  size_t switches = 0;
  for (const std::string& arg : argv) switches += arg.rfind("--upload-extension=", 0) == 0;
  EXPECT_EQ(switches, 1u);
  ASSERT_EQ(argv[1].rfind("--upload-extension=", 0), 0u);
  // The extra text is split at white space only and arrives unchanged.
  EXPECT_EQ(argv[2], "--vesk-startup=tray");
  EXPECT_EQ(argv[3], "\"two");
  EXPECT_EQ(argv[4], "words\"");

  const auto request_path = Base64Decode(argv[1].substr(std::string("--upload-extension=").size()));
  ASSERT_TRUE(request_path);
  EXPECT_EQ(DirName(*request_path), Environment().tmp_dir);
  const std::string name = request_path->substr(request_path->rfind('/') + 1);
  EXPECT_EQ(name.rfind("Pel", 0), 0u);
  EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
  std::string request;
  ASSERT_TRUE(ReadFileToString(*request_path, &request, 4096));
  EXPECT_EQ(request,
            std::string("{\"command\":\"\",\"data\":[\"/home/u/b.txt\",\"/home/u/\\u6587\\u4ef6 a.pdf\","
                        "\"/home/u/c\"]}\n") +
                '\0');
  EXPECT_EQ(ListDirectory(Environment().tmp_dir).size(), before.size() + 1);
}

TEST_F(ModuleHostTest, FailedStartShowsTheErrorNotificationAndKeepsTheRequest) {
  NotificationService notifications;
  const std::string empty_program = MakeDirectory("no-launcher");
  WriteRecord(empty_program);
  const size_t files_before = ListDirectory(Environment().tmp_dir).size();
  {
    MenuItems items(ThreeFiles());
    ASSERT_EQ(items.size(), 1u);
    nautilus_menu_item_activate(items.first());
  }
  ASSERT_TRUE(WaitUntil([&] { return notifications.summaries().size() == 1; }));
  EXPECT_EQ(notifications.summaries()[0], "Error");
  EXPECT_EQ(ListDirectory(Environment().tmp_dir).size(), files_before + 1) << "the request file stays";

  // No record at all: the program directory is unknown, the same error.
  g_unlink(RecordPath().c_str());
  MenuItems items(ThreeFiles());
  ASSERT_EQ(items.size(), 1u);
  nautilus_menu_item_activate(items.first());
  ASSERT_TRUE(WaitUntil([&] { return notifications.summaries().size() == 2; }));
  EXPECT_EQ(notifications.summaries()[1], "Error");
  EXPECT_EQ(ListDirectory(Environment().tmp_dir).size(), files_before + 2);
}

}  // namespace
}  // namespace vesk::shell_ext_test
