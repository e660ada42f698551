// The NT road of the process walk against stand-ins for PSAPI and VDMDBG,
// and the token walk of the administrator check. The live walks and
// starting programs are tried end to end.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "system/admin.h"
#include "system/procenum_nt.h"

namespace {

// The process ids to list, the sizes and access asked for, the names handed out in turn to
// the processes that can be opened (then a failure that leaves garbage behind), and the
// 16-bit tasks of every virtual DOS machine.
struct FakeSystem {
  std::vector<DWORD> ids, fetch_sizes, access;
  std::vector<std::string> names;
  size_t next_name = 0;
  std::vector<std::pair<WORD, std::string>> tasks;
  FakeSystem() { fake = this; }
  inline static FakeSystem* fake;
};

BOOL WINAPI FakeEnumProcesses(DWORD* ids, DWORD bytes, DWORD* returned) {
  FakeSystem* fake = FakeSystem::fake;
  fake->fetch_sizes.push_back(bytes);
  DWORD count = std::min<DWORD>(bytes / 4, (DWORD)fake->ids.size());
  std::copy_n(fake->ids.begin(), count, ids);
  *returned = count * 4;
  return TRUE;
}

HANDLE WINAPI FakeOpenProcess(DWORD access, BOOL inherit, DWORD id) {
  return FakeSystem::fake->access.push_back(access), OpenProcess(access, inherit, id);
}

BOOL WINAPI FakeEnumProcessModules(HANDLE, HMODULE* modules, DWORD, DWORD* needed) {
  *modules = GetModuleHandleA(nullptr);
  *needed = sizeof(HMODULE);
  return TRUE;
}

DWORD WINAPI FakeModuleFileName(HANDLE, HMODULE, LPSTR name, DWORD size) {
  FakeSystem* fake = FakeSystem::fake;
  bool named = fake->next_name < fake->names.size();
  lstrcpynA(name, named ? fake->names[fake->next_name++].c_str() : "garbage", (int)size);
  return named ? (DWORD)strlen(name) : 0;
}

BOOL WINAPI FakeQueryImageName(HANDLE, DWORD flags, LPSTR name, DWORD* size) {
  EXPECT_EQ(std::pair(flags, *size), std::pair(0ul, 260ul));  // a Win32 path, not the device's
  *size = FakeModuleFileName(nullptr, nullptr, name, *size);
  return *size != 0;
}

INT WINAPI FakeEnumTasks(DWORD, TaskEnumProcEx callback, LPARAM context) {
  for (auto& task : FakeSystem::fake->tasks)
    if (callback(7, 1, task.first, (PSZ) "MOD", (PSZ)task.second.c_str(), context)) break;
  return 0;
}

// Before Vista PSAPI names the processes; from Vista on the kernel, with the
// least access, and PSAPI's module calls are never made.
const NtProcessInterface FAKE_API = {FakeEnumProcesses, FakeEnumProcessModules, FakeModuleFileName,
                                     FakeEnumTasks, nullptr, FakeOpenProcess};
const NtProcessInterface KERNEL_API = {FakeEnumProcesses, nullptr, nullptr, FakeEnumTasks,
                                       FakeQueryImageName, FakeOpenProcess};
const DWORD NO_SUCH_PROCESS = 0x7FFFFFF0;

// Records "id name/task" and stops at task stop_at.
unsigned short stop_at = 0xFFFF;
int Collect(unsigned long id, unsigned short task, const char* name, void* context) {
  ((std::vector<std::string>*)context)
      ->push_back(std::to_string(id) + " " + name + "/" + std::to_string(task));
  return task != stop_at;
}

TEST(WalkNtProcesses, FetchesAgainWithTwiceTheRoomWhileTheListFillsIt) {
  const std::pair<size_t, std::vector<DWORD>> cases[] = {
      {255, {1024}}, {256, {1024, 2048}}, {600, {1024, 2048, 4096}}};
  for (auto& [count, sizes] : cases) {
    FakeSystem fake;
    fake.ids.assign(count, NO_SUCH_PROCESS);
    std::vector<std::string> seen;
    EXPECT_EQ(WalkNtProcesses(FAKE_API, Collect, &seen), 0);
    EXPECT_EQ(seen.size(), count);
    EXPECT_EQ(fake.fetch_sizes, sizes);
  }
}

TEST(WalkNtProcesses, WalksTheTasksOfEveryVirtualDosMachineAndStopsWhenAsked) {
  for (auto [api, access] : {std::pair{&FAKE_API, 0x410ul}, {&KERNEL_API, 0x1000ul}}) {
    FakeSystem fake;
    std::string self = std::to_string(GetCurrentProcessId());
    fake.ids = {NO_SUCH_PROCESS, GetCurrentProcessId(), GetCurrentProcessId(),
                GetCurrentProcessId(), GetCurrentProcessId(), GetCurrentProcessId()};
    fake.names = {"C:\\WINNT\\system32\\ntvdm.exe", "C:\\A\\TVDM.EXE", "NTVDM.EXE", "C:\\B.EXE"};
    fake.tasks = {{0x1234, "C:\\APP\\_ISDEL.EXE"}, {0x5678, "C:\\APP\\OTHER.EXE"}};
    std::vector<std::string> seen;
    EXPECT_EQ(WalkNtProcesses(*api, Collect, &seen), 0);
    // A process that cannot be opened or named comes without a name.
    EXPECT_EQ(seen, (std::vector<std::string>{
                        std::to_string(NO_SUCH_PROCESS) + " /0",
                        self + " C:\\WINNT\\system32\\ntvdm.exe/0",
                        self + " C:\\APP\\_ISDEL.EXE/4660", self + " C:\\APP\\OTHER.EXE/22136",
                        self + " C:\\A\\TVDM.EXE/0", self + " NTVDM.EXE/0",
                        self + " C:\\APP\\_ISDEL.EXE/4660", self + " C:\\APP\\OTHER.EXE/22136",
                        self + " C:\\B.EXE/0", self + " /0"}));
    EXPECT_EQ(fake.access, std::vector<DWORD>(6, access));

    // Stopped at a task of the first machine, or at the first process: nothing more.
    for (auto [task, count] : {std::pair<unsigned short, size_t>{0x1234, 3}, {0, 1}}) {
      seen.clear();
      fake.next_name = 0;
      stop_at = task;
      EXPECT_EQ(WalkNtProcesses(*api, Collect, &seen), 0);
      EXPECT_EQ(seen.size(), count);
    }
    stop_at = 0xFFFF;
  }
}

// Wine runs everything as an administrator.
TEST(IsAdministrator, ThreadTokenOrDenyOnlyGroupCountsAsWell) {
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  HANDLE thread, process, restricted;
  EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &thread));
  EXPECT_TRUE(IsAdministrator());
  RevertToSelf();
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process));
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID administrators;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                       0, 0, 0, 0, 0, &administrators));
  SID_AND_ATTRIBUTES disable = {administrators, 0};
  ASSERT_TRUE(CreateRestrictedToken(process, 0, 1, &disable, 0, nullptr, 0, nullptr, &restricted));
  // The group must really be deny-only for the answer to mean anything.
  std::vector<DWORD> buffer(1024);
  DWORD needed, attributes = 0;
  ASSERT_TRUE(GetTokenInformation(restricted, TokenGroups, buffer.data(), 4096, &needed));
  const TOKEN_GROUPS* groups = (const TOKEN_GROUPS*)buffer.data();
  for (DWORD i = 0; i < groups->GroupCount; ++i)
    if (EqualSid(groups->Groups[i].Sid, administrators)) attributes = groups->Groups[i].Attributes;
  EXPECT_EQ(attributes & (SE_GROUP_USE_FOR_DENY_ONLY | SE_GROUP_ENABLED), (DWORD)SE_GROUP_USE_FOR_DENY_ONLY);
  EXPECT_TRUE(TokenHoldsAdministrators(restricted));
  FreeSid(administrators);
  for (HANDLE handle : {thread, process, restricted}) CloseHandle(handle);
}

}  // namespace
