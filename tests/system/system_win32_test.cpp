// The NT road of the process walk against stand-ins, and the token group
// walk of the administrator check (under Wine). Starting programs and the
// live walks are tried end to end.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "driver/entry.h"
#include "system/admin.h"
#include "system/procenum.h"
#include "system/procenum_nt.h"

namespace {

struct Seen {
  unsigned long id;
  unsigned short task;
  std::string name;
};

int Collect(unsigned long id, unsigned short task, const char* name, void* context) {
  ((std::vector<Seen>*)context)->push_back({id, task, name});
  return 1;
}

// Stand-ins for PSAPI and VDMDBG: a list of ids of a given length, and
// module names handed out in turn to the processes that could be opened.
struct FakeSystem {
  std::vector<DWORD> ids;
  std::vector<DWORD> fetch_sizes;
  std::vector<std::string> names;
  size_t next_name = 0;
  std::vector<std::pair<WORD, std::string>> tasks;
  std::vector<DWORD> task_walks;
  bool fail_fetch = false;
};
FakeSystem* fake = nullptr;

BOOL WINAPI FakeEnumProcesses(DWORD* ids, DWORD bytes, DWORD* returned) {
  fake->fetch_sizes.push_back(bytes);
  if (fake->fail_fetch) return FALSE;
  DWORD count = std::min<DWORD>(bytes / 4, (DWORD)fake->ids.size());
  for (DWORD i = 0; i < count; ++i) ids[i] = fake->ids[i];
  *returned = count * 4;
  return TRUE;
}

BOOL WINAPI FakeEnumProcessModules(HANDLE, HMODULE* modules, DWORD, DWORD* needed) {
  *modules = GetModuleHandleA(nullptr);
  *needed = sizeof(HMODULE);
  return TRUE;
}

DWORD WINAPI FakeModuleFileName(HANDLE, HMODULE, LPSTR name, DWORD size) {
  if (fake->next_name >= fake->names.size()) return 0;
  lstrcpynA(name, fake->names[fake->next_name++].c_str(), (int)size);
  return (DWORD)strlen(name);
}

INT WINAPI FakeEnumTasks(DWORD process_id, TaskEnumProcEx callback, LPARAM context) {
  fake->task_walks.push_back(process_id);
  for (auto& task : fake->tasks)
    if (callback(7, 1, task.first, (PSZ) "MOD", (PSZ)task.second.c_str(), context)) break;
  return 0;
}

const NtProcessInterface FAKE_API = {FakeEnumProcesses, FakeEnumProcessModules, FakeModuleFileName,
                                     FakeEnumTasks};

struct FakeWalk : FakeSystem {
  FakeWalk() { fake = this; }
  ~FakeWalk() { fake = nullptr; }
};

const DWORD NO_SUCH_PROCESS = 0x7FFFFFF0;

TEST(WalkNtProcesses, FetchesAgainWithTwiceTheRoomWhileTheListFillsIt) {
  for (size_t count : {255u, 256u, 600u}) {
    FakeWalk walk;
    walk.ids.assign(count, NO_SUCH_PROCESS);
    std::vector<Seen> seen;
    EXPECT_EQ(WalkNtProcesses(FAKE_API, Collect, &seen), 1);
    EXPECT_EQ(seen.size(), count);
    std::vector<DWORD> expected =
        count == 255 ? std::vector<DWORD>{1024} : count == 256 ? std::vector<DWORD>{1024, 2048}
                                                               : std::vector<DWORD>{1024, 2048, 4096};
    EXPECT_EQ(walk.fetch_sizes, expected);
  }
}

TEST(WalkNtProcesses, ProcessThatCannotBeOpenedIsReportedWithoutName) {
  FakeWalk walk;
  walk.ids = {NO_SUCH_PROCESS, GetCurrentProcessId()};
  walk.names = {"C:\\WINDOWS\\SYSTEM32\\SETUP.EXE"};
  std::vector<Seen> seen;
  EXPECT_EQ(WalkNtProcesses(FAKE_API, Collect, &seen), 1);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].id, NO_SUCH_PROCESS);
  EXPECT_EQ(seen[0].task, 0);
  EXPECT_EQ(seen[0].name, "");
  EXPECT_EQ(seen[1].name, "C:\\WINDOWS\\SYSTEM32\\SETUP.EXE");
}

TEST(WalkNtProcesses, WalksTheTasksOfEveryVirtualDosMachine) {
  FakeWalk walk;
  DWORD self = GetCurrentProcessId();
  walk.ids = {self, self, self, self};
  walk.names = {"C:\\WINNT\\system32\\ntvdm.exe", "C:\\A\\TVDM.EXE", "NTVDM.EXE", "C:\\B.EXE"};
  walk.tasks = {{0x1234, "C:\\APP\\_ISDEL.EXE"}, {0x5678, "C:\\APP\\OTHER.EXE"}};
  std::vector<Seen> seen;
  EXPECT_EQ(WalkNtProcesses(FAKE_API, Collect, &seen), 1);
  std::vector<std::string> names;
  for (const Seen& entry : seen) {
    EXPECT_EQ(entry.id, self);
    names.push_back(entry.name + "/" + std::to_string(entry.task));
  }
  EXPECT_EQ(names, (std::vector<std::string>{
                       "C:\\WINNT\\system32\\ntvdm.exe/0", "C:\\APP\\_ISDEL.EXE/4660",
                       "C:\\APP\\OTHER.EXE/22136", "C:\\A\\TVDM.EXE/0", "NTVDM.EXE/0",
                       "C:\\APP\\_ISDEL.EXE/4660", "C:\\APP\\OTHER.EXE/22136", "C:\\B.EXE/0"}));
  EXPECT_EQ(walk.task_walks, (std::vector<DWORD>{self, self}));

  int found = 0;
  walk.next_name = 0;
  WalkNtProcesses(FAKE_API, CleanupTaskCallback, &found);
  EXPECT_EQ(found, 1);  // a 16-bit clean-up task counts as well
}

int StopAt(unsigned long, unsigned short task, const char*, void* context) {
  std::vector<unsigned short>* calls = (std::vector<unsigned short>*)context;
  calls->push_back(task);
  return task != 0x1234;  // stop at that task
}

int StopAtOnce(unsigned long, unsigned short, const char*, void* context) {
  ++*(int*)context;
  return 0;
}

TEST(WalkNtProcesses, CallbackStopsTheWholeWalk) {
  {
    FakeWalk walk;
    walk.ids.assign(5, NO_SUCH_PROCESS);
    int calls = 0;
    EXPECT_EQ(WalkNtProcesses(FAKE_API, StopAtOnce, &calls), 1);
    EXPECT_EQ(calls, 1);
  }
  {
    FakeWalk walk;
    DWORD self = GetCurrentProcessId();
    walk.ids = {self, self};
    walk.names = {"NTVDM.EXE", "NTVDM.EXE"};
    walk.tasks = {{0x1234, "A.EXE"}, {0x5678, "B.EXE"}};
    std::vector<unsigned short> calls;
    EXPECT_EQ(WalkNtProcesses(FAKE_API, StopAt, &calls), 1);
    EXPECT_EQ(calls, (std::vector<unsigned short>{0, 0x1234}));
  }
}

TEST(WalkNtProcesses, ListThatCannotBeFetchedGivesZeroAndNoCall) {
  FakeWalk walk;
  walk.fail_fetch = true;
  int calls = 0;
  EXPECT_EQ(WalkNtProcesses(FAKE_API, StopAtOnce, &calls), 0);
  EXPECT_EQ(calls, 0);
}

struct Token {
  HANDLE handle = nullptr;
  ~Token() {
    if (handle) CloseHandle(handle);
  }
};

// Wine runs everything as an administrator.
TEST(IsAdministrator, ProcessTokenOrImpersonatedThreadTokenDecides) {
  EXPECT_EQ(IsAdministrator(), 1);
  Token process;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &process.handle));
  EXPECT_EQ(TokenHoldsAdministrators(process.handle), 1);

  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  Token thread;
  EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &thread.handle));
  EXPECT_EQ(IsAdministrator(), 1);
  RevertToSelf();
}

// The attributes of the Administrators group in token; 0 when absent.
DWORD AdministratorsAttributes(HANDLE token, PSID administrators) {
  std::vector<DWORD> buffer(1024);
  DWORD needed;
  if (!GetTokenInformation(token, TokenGroups, buffer.data(), 4096, &needed)) return 0;
  const TOKEN_GROUPS* groups = (const TOKEN_GROUPS*)buffer.data();
  for (DWORD i = 0; i < groups->GroupCount; ++i)
    if (EqualSid(groups->Groups[i].Sid, administrators)) return groups->Groups[i].Attributes;
  return 0;
}

TEST(IsAdministrator, DenyOnlyGroupCountsAndATokenThatCannotBeQueriedDoesNot) {
  Token process;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process.handle));
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID administrators;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                       DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                       &administrators));
  SID_AND_ATTRIBUTES disable = {administrators, 0};
  Token restricted;
  ASSERT_TRUE(CreateRestrictedToken(process.handle, 0, 1, &disable, 0, nullptr, 0, nullptr,
                                    &restricted.handle));
  DWORD attributes = AdministratorsAttributes(restricted.handle, administrators);
  FreeSid(administrators);
  EXPECT_TRUE(attributes & SE_GROUP_USE_FOR_DENY_ONLY);
  EXPECT_FALSE(attributes & SE_GROUP_ENABLED);
  EXPECT_EQ(TokenHoldsAdministrators(restricted.handle), 1);

  Token no_query;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, &no_query.handle));
  EXPECT_EQ(TokenHoldsAdministrators(no_query.handle), 0);
}

}  // namespace
