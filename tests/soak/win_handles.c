/* Reports the handle, GDI object and window counts of a running process, found by its
 * executable name, for the soak test under Wine.
 *
 *   win_handles NAME.exe
 *   win_handles --stdin NAME.exe
 *
 * Prints one line (with --stdin: one for every line read from standard input, so that a
 * script can take samples at moments of its choosing without starting a process each
 * time; a line that could not be sampled says "error=..."):
 *
 *   pid=N handles=N handles_listed=N gdi=N user=N gdi_table=N windows=N
 *   working_set_kb=N processes=N
 *
 *   handles         GetProcessHandleCount
 *   handles_listed  entries owned by the process in the system's handle list
 *                   (NtQuerySystemInformation, SystemHandleInformation)
 *   gdi, user       GetGuiResources(GR_GDIOBJECTS / GR_USEROBJECTS)
 *   gdi_table       GDI objects in use in the process's GDI handle table (found through
 *                   its PEB's GdiSharedHandleTable, read with ReadProcessMemory), stock
 *                   objects left out
 *   windows         windows of the process: top-level, their descendants and
 *                   message-only windows
 *
 * A figure the system cannot give is printed as "na". Wine 8 answers 0 for
 * GetProcessHandleCount and fails GetGuiResources, but lists handles and keeps its GDI
 * handle table where the PEB says. Without --stdin the exit status is 0 when exactly one
 * such process was found, 1 when none, 2 when several (the first is reported), 3 when it
 * could not be opened.
 *
 * Built with MinGW-w64:
 *   x86_64-w64-mingw32-gcc -O2 -o win_handles.exe win_handles.c -lpsapi
 */
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <tlhelp32.h>

typedef LONG NTSTATUS_T;
typedef NTSTATUS_T(WINAPI* QuerySystemInformation)(ULONG, void*, ULONG, ULONG*);
typedef NTSTATUS_T(WINAPI* QueryInformationProcess)(HANDLE, ULONG, void*, ULONG, ULONG*);

#define SYSTEM_HANDLE_INFORMATION_CLASS 16
#define PROCESS_BASIC_INFORMATION_CLASS 0
#define STATUS_INFO_LENGTH_MISMATCH_VALUE ((NTSTATUS_T)0xC0000004L)
#define STATUS_BUFFER_TOO_SMALL_VALUE ((NTSTATUS_T)0xC0000023L)
#define STATUS_BUFFER_OVERFLOW_VALUE ((NTSTATUS_T)0x80000005L)

/* SYSTEM_HANDLE_INFORMATION as NtQuerySystemInformation fills it. */
typedef struct {
  ULONG OwnerPid;
  BYTE ObjectType;
  BYTE HandleFlags;
  USHORT HandleValue;
  PVOID ObjectPointer;
  ULONG AccessMask;
} HandleEntry;
typedef struct {
  ULONG Count;
  HandleEntry Handle[1];
} HandleList;

typedef struct {
  PVOID Reserved1;
  PVOID PebBaseAddress;
  PVOID Reserved2[2];
  ULONG_PTR UniqueProcessId;
  PVOID Reserved3;
} BasicInformation;

/* One entry of the GDI handle table (24 bytes on 64-bit Windows and in Wine). */
typedef struct {
  unsigned long long object;
  ULONG owner;
  BYTE ext_type_and_stock; /* bits 0-6 type, bit 7 stock object */
  BYTE generation;
  BYTE type; /* 0: free */
  BYTE flags;
  unsigned long long user_pointer;
} GdiEntry;

#define GDI_MAX_HANDLE_COUNT 0x10000
#define PEB64_GDI_SHARED_HANDLE_TABLE 0xF8

#ifndef GR_GDIOBJECTS
#define GR_GDIOBJECTS 0
#define GR_USEROBJECTS 1
#endif

static void print_gui(const char* name, HANDLE process, DWORD flag) {
  SetLastError(ERROR_SUCCESS);
  DWORD n = GetGuiResources(process, flag);
  if (n == 0 && GetLastError() != ERROR_SUCCESS)
    printf(" %s=na", name);
  else
    printf(" %s=%lu", name, (unsigned long)n);
}

/* Handles in the system's handle list owned by pid, or -1. */
static long listed_handles(DWORD pid) {
  QuerySystemInformation query =
      (QuerySystemInformation)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                    "NtQuerySystemInformation");
  if (!query) return -1;
  ULONG size = 1 << 20;
  for (int attempt = 0; attempt < 8; ++attempt, size *= 2) {
    HandleList* list = (HandleList*)malloc(size);
    if (!list) return -1;
    ULONG needed = 0;
    NTSTATUS_T status = query(SYSTEM_HANDLE_INFORMATION_CLASS, list, size, &needed);
    if (status == STATUS_INFO_LENGTH_MISMATCH_VALUE || status == STATUS_BUFFER_TOO_SMALL_VALUE ||
        status == STATUS_BUFFER_OVERFLOW_VALUE) {
      free(list);
      continue;
    }
    long n = -1;
    if (status >= 0) {
      n = 0;
      for (ULONG i = 0; i < list->Count; ++i)
        if (list->Handle[i].OwnerPid == pid) ++n;
    }
    free(list);
    return n;
  }
  return -1;
}

/* Non-stock GDI objects in use in the process's GDI handle table, or -1. */
static long gdi_table_objects(HANDLE process) {
  QueryInformationProcess query =
      (QueryInformationProcess)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                     "NtQueryInformationProcess");
  if (!query) return -1;
  BasicInformation basic;
  memset(&basic, 0, sizeof basic);
  if (query(process, PROCESS_BASIC_INFORMATION_CLASS, &basic, sizeof basic, NULL) < 0 ||
      !basic.PebBaseAddress)
    return -1;
  unsigned long long table = 0;
  SIZE_T got = 0;
  if (!ReadProcessMemory(process, (const char*)basic.PebBaseAddress + PEB64_GDI_SHARED_HANDLE_TABLE,
                         &table, sizeof table, &got) ||
      got != sizeof table || !table)
    return -1;
  /* In chunks; entries past the last one ever used are all zero. */
  enum { kChunk = 4096 };
  static GdiEntry chunk[kChunk];
  long in_use = 0;
  for (unsigned first = 0; first < GDI_MAX_HANDLE_COUNT; first += kChunk) {
    if (!ReadProcessMemory(process, (const void*)(ULONG_PTR)(table + first * sizeof(GdiEntry)),
                           chunk, sizeof chunk, &got) ||
        got != sizeof chunk)
      return first ? in_use : -1;
    int ever_used = 0;
    for (unsigned i = 0; i < kChunk; ++i) {
      if (chunk[i].generation || chunk[i].type) ever_used = 1;
      if (chunk[i].type && !(chunk[i].ext_type_and_stock & 0x80)) ++in_use;
    }
    if (!ever_used && first) break;
  }
  return in_use;
}

typedef struct {
  DWORD pid;
  long count;
} WindowCount;

static BOOL CALLBACK count_child(HWND hwnd, LPARAM data) {
  WindowCount* c = (WindowCount*)data;
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner == c->pid) ++c->count;
  return TRUE;
}

static BOOL CALLBACK count_top(HWND hwnd, LPARAM data) {
  count_child(hwnd, data);
  EnumChildWindows(hwnd, count_child, data); /* all descendants */
  return TRUE;
}

static long windows_of(DWORD pid) {
  WindowCount c = {pid, 0};
  EnumWindows(count_top, (LPARAM)&c);
  for (HWND h = FindWindowExA(HWND_MESSAGE, NULL, NULL, NULL); h;
       h = FindWindowExA(HWND_MESSAGE, h, NULL, NULL))
    count_top(h, (LPARAM)&c);
  return c.count;
}

static void print_count(const char* name, long n) {
  if (n < 0)
    printf(" %s=na", name);
  else
    printf(" %s=%ld", name, n);
}

static int sample(const char* exe_name) {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) {
    printf("error=snapshot-%lu\n", GetLastError());
    return 1;
  }
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  DWORD pid = 0;
  int found = 0;
  for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry)) {
    if (_stricmp(entry.szExeFile, exe_name) == 0) {
      if (!found) pid = entry.th32ProcessID;
      ++found;
    }
  }
  CloseHandle(snap);
  if (!found) {
    printf("error=not-found\n");
    return 1;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) {
    printf("pid=%lu error=open-%lu\n", (unsigned long)pid, GetLastError());
    return 3;
  }
  printf("pid=%lu", (unsigned long)pid);
  DWORD handles = 0;
  /* Every live process holds handles; 0 is an unimplemented answer. */
  if (GetProcessHandleCount(process, &handles) && handles)
    printf(" handles=%lu", (unsigned long)handles);
  else
    printf(" handles=na");
  print_count("handles_listed", listed_handles(pid));
  print_gui("gdi", process, GR_GDIOBJECTS);
  print_gui("user", process, GR_USEROBJECTS);
  print_count("gdi_table", gdi_table_objects(process));
  print_count("windows", windows_of(pid));
  PROCESS_MEMORY_COUNTERS memory;
  memset(&memory, 0, sizeof memory);
  if (GetProcessMemoryInfo(process, &memory, sizeof memory) && memory.WorkingSetSize)
    printf(" working_set_kb=%lu", (unsigned long)(memory.WorkingSetSize / 1024));
  else
    printf(" working_set_kb=na");
  printf(" processes=%d\n", found);
  CloseHandle(process);
  return found == 1 ? 0 : 2;
}

int main(int argc, char** argv) {
  if (argc == 2) {
    const int rc = sample(argv[1]);
    fflush(stdout);
    return rc;
  }
  if (argc == 3 && strcmp(argv[1], "--stdin") == 0) {
    char line[256];
    while (fgets(line, sizeof line, stdin)) {
      sample(argv[2]);
      fflush(stdout);
    }
    return 0;
  }
  fprintf(stderr, "usage: win_handles [--stdin] NAME.exe\n");
  return 64;
}
