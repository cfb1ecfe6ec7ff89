#!/usr/bin/env python3
"""The plain function interface of libmoxlib driven from Python's ctypes.

Usage: test_flat_ctypes.py BUILD_DIR   (libmoxlib.so is in BUILD_DIR/bin)
"""
import ctypes
import os
import sys
import tempfile
import unittest

LIB = None

PRINT_PROC = ctypes.CFUNCTYPE(None, ctypes.c_char_p)
CALL = ctypes.c_void_p
HOST_PROC = ctypes.CFUNCTYPE(ctypes.c_int, CALL, ctypes.c_void_p)
WAIT_PROC = ctypes.CFUNCTYPE(ctypes.c_bool)
VM = ctypes.c_void_p
PRINTER = ctypes.c_void_p
WSTR = ctypes.POINTER(ctypes.c_uint16)


def load(build_dir):
    lib = ctypes.CDLL(os.path.join(build_dir, "bin", "libmoxlib.so"))
    sigs = {
        "Mox_CreateVM": (VM, [PRINTER]),
        "Mox_ReleaseVM": (ctypes.c_int, [VM]),
        "Mox_CompileFileA": (ctypes.c_int, [VM, ctypes.c_char_p, ctypes.c_int, ctypes.c_int,
                                            PRINTER, PRINTER]),
        "Mox_CompileFileW": (ctypes.c_int, [VM, WSTR, ctypes.c_int, ctypes.c_int, PRINTER,
                                            PRINTER]),
        "Mox_CompileTextA": (ctypes.c_int, [VM, ctypes.c_char_p, ctypes.c_int, ctypes.c_int,
                                            PRINTER, PRINTER]),
        "Mox_CompileTextW": (ctypes.c_int, [VM, WSTR, ctypes.c_int, ctypes.c_int, PRINTER,
                                            PRINTER]),
        "Mox_ExecuteA": (ctypes.c_int, [VM, ctypes.c_char_p, ctypes.c_int,
                                        ctypes.POINTER(ctypes.c_char_p), ctypes.c_int, PRINTER,
                                        PRINTER]),
        "Mox_ExecuteW": (ctypes.c_int, [VM, WSTR, ctypes.c_int, ctypes.POINTER(WSTR),
                                        ctypes.c_int, PRINTER, PRINTER]),
        "Mox_WriteModuleA": (ctypes.c_int, [VM, ctypes.c_char_p]),
        "Mox_WriteModuleW": (ctypes.c_int, [VM, WSTR]),
        "Mox_ReadModuleA": (ctypes.c_int, [VM, ctypes.c_char_p]),
        "Mox_ReadModuleW": (ctypes.c_int, [VM, WSTR]),
        "Mox_GetIntResult": (ctypes.c_int32, [VM]),
        "Mox_Reinit": (None, [VM]),
        "Mox_CreateConsolePrinter": (PRINTER, []),
        "Mox_CreateCallbackPrinter": (PRINTER, [PRINT_PROC]),
        "Mox_ReleasePrinter": (ctypes.c_int, [PRINTER]),
        "Mox_SetDbgWaitProc": (ctypes.c_void_p, [VM, WAIT_PROC]),
        "Mox_RegisterFunction": (ctypes.c_int, [VM, ctypes.c_char_p, HOST_PROC, ctypes.c_void_p]),
        "Mox_ArgCount": (ctypes.c_int, [CALL]),
        "Mox_ArgType": (ctypes.c_int, [CALL, ctypes.c_int]),
        "Mox_ArgDouble": (ctypes.c_double, [CALL, ctypes.c_int]),
        "Mox_ReturnDouble": (None, [CALL, ctypes.c_double]),
        "Mox_Fail": (ctypes.c_int, [CALL, ctypes.c_char_p]),
        "Mox_PushInt": (ctypes.c_int, [VM, ctypes.c_int32]),
        "Mox_PushDouble": (ctypes.c_int, [VM, ctypes.c_double]),
        "Mox_PushStringA": (ctypes.c_int, [VM, ctypes.c_char_p]),
        "Mox_Call": (ctypes.c_int, [VM, ctypes.c_char_p, ctypes.c_int]),
        "Mox_GetResultType": (ctypes.c_int, [VM]),
        "Mox_GetDoubleResult": (ctypes.c_double, [VM]),
        "Mox_GetStringResultA": (ctypes.c_int, [VM, ctypes.c_char_p, ctypes.c_int]),
        "Mox_GetErrorTextA": (ctypes.c_int, [VM, ctypes.c_char_p, ctypes.c_int]),
        "Mox_SetGlobalStringA": (ctypes.c_int, [VM, ctypes.c_char_p, ctypes.c_char_p]),
    }
    for name, (restype, argtypes) in sigs.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes
    return lib


def w(text):
    """Zero-terminated UTF-16 units of text."""
    data = text.encode("utf-16-le")
    units = [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data), 2)]
    return ctypes.cast((ctypes.c_uint16 * (len(units) + 1))(*units, 0), WSTR)


def a_argv(words):
    return (ctypes.c_char_p * len(words))(*[x.encode("utf-8") for x in words])


def w_argv(words):
    return (WSTR * len(words))(*[w(x) for x in words])


class Collector:
    """A callback printer that keeps the raw bytes it is handed."""

    def __init__(self):
        self.pieces = []
        self.proc = PRINT_PROC(self.pieces.append)
        self.handle = LIB.Mox_CreateCallbackPrinter(self.proc)

    def bytes(self):
        return b"".join(self.pieces)

    def clear(self):
        del self.pieces[:]

    def release(self):
        return LIB.Mox_ReleasePrinter(self.handle)


SCRIPT = (
    "join(a, b) { print(a, \"|\", b, \"\\n\"); return strlen(a) * 100 + strlen(b); }\n"
    "count() { return argcnt(); }\n"
    "step() { TRSTEP; 1; 2; return 3; }\n"
)


class FlatInterfaceTest(unittest.TestCase):
    def setUp(self):
        self.out = Collector()
        self.vm = LIB.Mox_CreateVM(self.out.handle)
        self.assertTrue(self.vm)

    def tearDown(self):
        self.assertEqual(LIB.Mox_ReleaseVM(self.vm), 1)
        self.assertEqual(self.out.release(), 1)

    def test_null_handles(self):
        self.assertEqual(LIB.Mox_ReleaseVM(None), 0)
        self.assertEqual(LIB.Mox_CompileTextA(None, b"f() {}", 0, 0, None, None), 0)
        self.assertEqual(LIB.Mox_CompileTextW(None, w("f() {}"), 0, 0, None, None), 0)
        self.assertEqual(LIB.Mox_CompileFileA(None, b"x.mox", 0, 0, None, None), 0)
        self.assertEqual(LIB.Mox_CompileFileW(None, w("x.mox"), 0, 0, None, None), 0)
        self.assertEqual(LIB.Mox_ExecuteA(None, b"f", 0, None, 0, None, None), 0)
        self.assertEqual(LIB.Mox_ExecuteW(None, w("f"), 0, None, 0, None, None), 0)
        self.assertEqual(LIB.Mox_WriteModuleA(None, b"m.mxm"), 0)
        self.assertEqual(LIB.Mox_WriteModuleW(None, w("m.mxm")), 0)
        self.assertEqual(LIB.Mox_ReadModuleA(None, b"m.mxm"), 0)
        self.assertEqual(LIB.Mox_ReadModuleW(None, w("m.mxm")), 0)
        self.assertEqual(LIB.Mox_GetIntResult(None), -0x80000000)
        LIB.Mox_Reinit(None)
        self.assertIsNone(LIB.Mox_SetDbgWaitProc(None, WAIT_PROC(lambda: True)))
        self.assertIsNone(LIB.Mox_CreateCallbackPrinter(PRINT_PROC()))
        self.assertEqual(LIB.Mox_ReleasePrinter(None), 0)

    def test_narrow_and_wide_runs(self):
        self.assertEqual(LIB.Mox_CompileTextA(self.vm, SCRIPT.encode(), 0, 0, None, None), 1)
        self.assertEqual(LIB.Mox_ExecuteA(self.vm, b"join", 2, a_argv(["h\u00e9", "x"]), 0,
                                          None, None), 1)
        self.assertEqual(LIB.Mox_GetIntResult(self.vm), 201)
        # Characters beyond U+FFFF are a surrogate pair inside, 4 bytes outside.
        self.assertEqual(LIB.Mox_ExecuteW(self.vm, w("join"), 2, w_argv(["\U0001F600", ""]), 0,
                                          None, None), 1)
        self.assertEqual(LIB.Mox_GetIntResult(self.vm), 200)
        self.assertEqual(self.out.bytes(), "h\u00e9|x\n\U0001F600|\n".encode("utf-8"))
        self.assertEqual(LIB.Mox_ExecuteA(self.vm, b"count", 0, None, 0, None, None), 1)
        self.assertEqual(LIB.Mox_GetIntResult(self.vm), 0)
        self.assertEqual(LIB.Mox_ExecuteW(self.vm, w("count"), 3, w_argv(["a", "b", "c"]), 0,
                                          None, None), 1)
        self.assertEqual(LIB.Mox_GetIntResult(self.vm), 3)

    def test_text_is_compiled_not_opened(self):
        self.assertEqual(LIB.Mox_CompileTextW(self.vm, w("seven() { return 7; }"), 0, 0, None,
                                              None), 1)
        self.assertEqual(LIB.Mox_ExecuteA(self.vm, b"seven", 0, None, 0, None, None), 1)
        self.assertEqual(LIB.Mox_GetIntResult(self.vm), 7)
        self.assertEqual(self.out.bytes(), b"")

    def test_deep_release_in_a_library_loaded_at_run_time(self):
        # The library was dlopen()ed by ctypes: the per-thread state of
        # object deletion must work there too, down a chain far deeper than
        # the nesting that deletion allows before it queues.
        text = b"""class Link { next; Link(n); }
Link::Link(n) { next = n; }
chain(; head, i) {
    head = null;
    for (i = 0; i < 100000; i++) head = new Link(head);
    return i;
}
"""
        self.assertEqual(LIB.Mox_CompileTextA(self.vm, text, 0, 0, None, None), 1)
        self.assertEqual(LIB.Mox_ExecuteA(self.vm, b"chain", 0, None, 0, None, None), 1)
        self.assertEqual(LIB.Mox_GetIntResult(self.vm), 100000)

    def test_errors_reach_the_given_printer(self):
        errors = Collector()
        try:
            self.assertEqual(LIB.Mox_CompileTextA(self.vm, b"bad( {", 0, 0, errors.handle, None),
                             0)
            self.assertIn(b"-->", errors.bytes())
            self.assertEqual(LIB.Mox_CompileFileA(self.vm, b"/nonexistent/x.mox", 0, 0, None,
                                                  None), 0)
            self.assertEqual(self.out.bytes(), b"error opening file /nonexistent/x.mox\n")
        finally:
            self.assertEqual(errors.release(), 1)

    def test_module_round_trip_and_reinit(self):
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "s\u00fcd.mox")
            mod = os.path.join(tmp, "m\u00f6d.mxm")
            with open(src, "w", encoding="utf-8") as f:
                f.write(SCRIPT)
            self.assertEqual(LIB.Mox_CompileFileW(self.vm, w(src), 0, 0, None, None), 1)
            self.assertEqual(LIB.Mox_WriteModuleW(self.vm, w(mod)), 1)
            LIB.Mox_Reinit(self.vm)
            self.assertEqual(LIB.Mox_ExecuteA(self.vm, b"count", 0, None, 0, None, None), 0)
            self.assertEqual(LIB.Mox_ReadModuleA(self.vm, mod.encode()), 1)
            self.assertEqual(LIB.Mox_ExecuteA(self.vm, b"count", 2, a_argv(["x", "y"]), 0,
                                              None, None), 1)
            self.assertEqual(LIB.Mox_GetIntResult(self.vm), 2)
            self.assertEqual(LIB.Mox_WriteModuleA(self.vm, mod.encode()), 1)
            self.assertEqual(LIB.Mox_ReadModuleW(self.vm, w(mod + ".missing")), 0)

    def test_wait_proc(self):
        calls = []
        first = WAIT_PROC(lambda: calls.append(1) or True)
        second = WAIT_PROC(lambda: False)
        self.assertIsNone(LIB.Mox_SetDbgWaitProc(self.vm, first))
        self.assertEqual(LIB.Mox_CompileTextA(self.vm, SCRIPT.encode(), 0, 0, None, None), 1)
        self.assertEqual(LIB.Mox_ExecuteA(self.vm, b"step", 0, None, 0, None, None), 1)
        self.assertEqual(LIB.Mox_GetIntResult(self.vm), 3)
        self.assertGreater(len(calls), 1)
        previous = LIB.Mox_SetDbgWaitProc(self.vm, second)
        self.assertEqual(previous, ctypes.cast(first, ctypes.c_void_p).value)

    def test_natives_typed_calls_and_results(self):
        def clamp(call, _userdata):
            if LIB.Mox_ArgCount(call) != 3:
                return LIB.Mox_Fail(call, b"clamp takes 3 numbers")
            x, lo, hi = (LIB.Mox_ArgDouble(call, i) for i in range(3))
            LIB.Mox_ReturnDouble(call, min(max(x, lo), hi))
            return 1

        proc = HOST_PROC(clamp)  # kept alive while the machine may call it
        self.assertEqual(LIB.Mox_RegisterFunction(self.vm, b"clamp", proc, None), 1)
        source = (b"f(n, x, s) { return clamp(n, 0, 10) + clamp(x, 0, 1) + strlen(s); }\n"
                  b"who() { return \"hello \" + NAME; }\n"
                  b"bad() { return clamp(1); }\n")
        self.assertEqual(LIB.Mox_CompileTextA(self.vm, source, 0, 0, None, None), 1)
        LIB.Mox_PushInt(self.vm, 12)
        LIB.Mox_PushDouble(self.vm, 0.5)
        LIB.Mox_PushStringA(self.vm, "grüße".encode("utf-8"))
        self.assertEqual(LIB.Mox_Call(self.vm, b"f", 3), 1)
        self.assertEqual(LIB.Mox_GetResultType(self.vm), 2)  # MOX_TYPE_DOUBLE
        self.assertEqual(LIB.Mox_GetDoubleResult(self.vm), 15.5)

        self.assertEqual(LIB.Mox_SetGlobalStringA(self.vm, b"NAME", "wörld".encode("utf-8")), 1)
        self.assertEqual(LIB.Mox_Call(self.vm, b"who", 0), 1)
        size = LIB.Mox_GetStringResultA(self.vm, None, 0)
        text = ctypes.create_string_buffer(size + 1)
        LIB.Mox_GetStringResultA(self.vm, text, size + 1)
        self.assertEqual(text.value.decode("utf-8"), "hello wörld")

        self.out.clear()
        self.assertEqual(LIB.Mox_Call(self.vm, b"bad", 0), 0)
        self.assertEqual(self.out.bytes(), b"clamp takes 3 numbers\n")
        error = ctypes.create_string_buffer(64)
        LIB.Mox_GetErrorTextA(self.vm, error, 64)
        self.assertEqual(error.value, b"clamp takes 3 numbers\n")

    def test_console_printer(self):
        console = LIB.Mox_CreateConsolePrinter()
        self.assertTrue(console)
        vm = LIB.Mox_CreateVM(console)
        self.assertEqual(LIB.Mox_CompileTextA(vm, b"f() { return 1; }", 0, 0, None, None), 1)
        self.assertEqual(LIB.Mox_ReleaseVM(vm), 1)
        self.assertEqual(LIB.Mox_ReleasePrinter(console), 1)


def main():
    global LIB
    if len(sys.argv) < 2:
        print("usage: test_flat_ctypes.py BUILD_DIR", file=sys.stderr)
        return 2
    LIB = load(sys.argv[1])
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(FlatInterfaceTest)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
