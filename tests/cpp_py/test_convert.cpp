// The shell's core-to-Python conversions, against an embedded interpreter.
//
// Expected objects come from the interpreter itself (Python literals
// evaluated with eval), so value, type and dict key order are checked against
// Python's own reading of the expected form.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "convert.hpp"

using namespace fyrn;
using fyrn::py::PyRef;

namespace {

void start_python() {
  PyConfig config;
  PyConfig_InitIsolatedConfig(&config);
  config.site_import = 0;
  // Locate the standard library from the interpreter the build was set up with.
  PyStatus status = PyConfig_SetBytesString(&config, &config.program_name, FYRN_TEST_PYTHON);
  if (!PyStatus_Exception(status)) status = Py_InitializeFromConfig(&config);
  PyConfig_Clear(&config);
  if (PyStatus_Exception(status)) Py_ExitStatusException(status);
}

class PythonEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { start_python(); }
  void TearDown() override { Py_FinalizeEx(); }
};
[[maybe_unused]] auto* const g_env = ::testing::AddGlobalTestEnvironment(new PythonEnvironment);

// eval returns the value of a Python expression.
PyRef eval(const std::string& expr) {
  PyRef globals = PyRef::steal(PyDict_New());
  PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins());
  PyRef out = PyRef::steal(PyRun_String(expr.c_str(), Py_eval_input, globals.get(), globals.get()));
  if (!out) PyErr_Print();
  return out;
}

std::string repr(PyObject* obj) {
  PyRef r = PyRef::steal(PyObject_Repr(obj));
  if (!r) {
    PyErr_Clear();
    return "<repr failed>";
  }
  return PyUnicode_AsUTF8(r.get());
}

// same_object_tree: equal values, identical types all the way down, and dicts
// with the same key order.
bool same_tree(PyObject* a, PyObject* b) {
  if (Py_TYPE(a) != Py_TYPE(b)) return false;
  if (PyList_Check(a)) {
    if (PyList_GET_SIZE(a) != PyList_GET_SIZE(b)) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(a); ++i) {
      if (!same_tree(PyList_GET_ITEM(a, i), PyList_GET_ITEM(b, i))) return false;
    }
    return true;
  }
  if (PyDict_Check(a)) {
    if (PyDict_Size(a) != PyDict_Size(b)) return false;
    Py_ssize_t pa = 0, pb = 0;
    PyObject *ka, *va, *kb, *vb;
    while (PyDict_Next(a, &pa, &ka, &va) && PyDict_Next(b, &pb, &kb, &vb)) {
      if (PyObject_RichCompareBool(ka, kb, Py_EQ) != 1 || !same_tree(va, vb)) return false;
    }
    return true;
  }
  if (PyFloat_Check(a) && std::isnan(PyFloat_AS_DOUBLE(a))) return std::isnan(PyFloat_AS_DOUBLE(b));
  return PyObject_RichCompareBool(a, b, Py_EQ) == 1;
}

void expect_converts_to(const Json& value, const std::string& python) {
  SCOPED_TRACE(python);
  PyRef got = PyRef::steal(py::json_to_py(value));
  ASSERT_TRUE(got) << "conversion failed";
  PyRef want = eval(python);
  ASSERT_TRUE(want);
  EXPECT_TRUE(same_tree(got.get(), want.get())) << repr(got.get()) << " != " << repr(want.get());
}

TEST(JsonToPy, ScalarKinds) {
  const uint64_t i64_max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  const std::pair<Json, const char*> cases[] = {
      {Json(nullptr), "None"},
      {Json(true), "True"},
      {Json(false), "False"},
      {Json(uint64_t{0}), "0"},
      {Json(i64_max), "9223372036854775807"},
      {Json(i64_max + 1), "9223372036854775808.0"},
      {Json(uint64_t{9223372036854777855ull}), "float(9223372036854777855)"},  // rounds up, not truncated
      {Json(std::numeric_limits<uint64_t>::max()), "18446744073709551615.0"},
      {Json(int64_t{-8}), "-8"},
      {Json(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
      {Json(int64_t{5}), "5"},
      {Json(0.1), "0.1"},
      {Json(2.0), "2.0"},
      {Json(-0.0), "-0.0"},
      {Json(std::numeric_limits<double>::quiet_NaN()), "float('nan')"},
      {Json("BTC-USD"), "'BTC-USD'"},
      {Json(std::string("a\0b\xc3\xa9", 5)), "'a\\x00b\\u00e9'"},
      {Json(""), "''"},
  };
  for (const auto& [value, python] : cases) expect_converts_to(value, python);
}

TEST(JsonToPy, ContainersKeepOrder) {
  expect_converts_to(Json::array(), "[]");
  expect_converts_to(Json::object(), "{}");
  Json limit = Json::parse(
      R"({"l":{"tif":"GTC","sz":0.25,"r":false,"px":50000.5,"i":false,"c":"BTC-USD","b":true}})");
  expect_converts_to(limit,
                     "{'l': {'b': True, 'c': 'BTC-USD', 'i': False, 'px': 50000.5, 'r': False, 'sz': 0.25, "
                     "'tif': 'GTC'}}");
  Json m = Json::object();
  for (const char* sym : {"b", "\xc3\xa9", "a", "B", "_", "z"}) m[sym] = 1.0;
  expect_converts_to(Json::array({m, Json::array({1u, -1, nullptr})}),
                     "[{'B': 1.0, '_': 1.0, 'a': 1.0, 'b': 1.0, 'z': 1.0, '\\u00e9': 1.0}, [1, -1, None]]");
}

TEST(JsonToPy, VocabularyKeysAreSharedInternedStrings) {
  Json value = Json::parse(R"({"px":{"c":"BTC-USD","px":1.0,"t":1}})");
  PyRef first = PyRef::steal(py::json_to_py(value));
  PyRef second = PyRef::steal(py::json_to_py(value));
  ASSERT_TRUE(first && second);
  Py_ssize_t pos = 0;
  PyObject *k1, *v1, *k2, *v2;
  ASSERT_TRUE(PyDict_Next(first.get(), &pos, &k1, &v1));
  pos = 0;
  ASSERT_TRUE(PyDict_Next(second.get(), &pos, &k2, &v2));
  EXPECT_EQ(k1, k2);
  PyObject* interned = PyUnicode_InternFromString("px");
  EXPECT_EQ(k1, interned);
  Py_DECREF(interned);
}

TEST(JsonToPy, FailuresReturnNothing) {
  // Invalid UTF-8 deep inside: the whole conversion fails with the decode error.
  Json bad = Json::array({Json::object({{"c", "ok"}}), Json::object({{"c", Json::array({"x", "\xff"})}})});
  EXPECT_EQ(py::json_to_py(bad), nullptr);
  EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_UnicodeDecodeError));
  PyErr_Clear();

  Json bad_key = Json::object({{"\xc3", 1}});
  EXPECT_EQ(py::json_to_py(bad_key), nullptr);
  EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_UnicodeDecodeError));
  PyErr_Clear();

  // Nesting far beyond the recursion limit ends in RecursionError, not a crash.
  Json deep = Json::array();
  for (int i = 0; i < 200000; ++i) {
    Json outer = Json::array();
    outer.push_back(std::move(deep));
    deep = std::move(outer);
  }
  EXPECT_EQ(py::json_to_py(deep), nullptr);
  EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_RecursionError));
  PyErr_Clear();
}

SignedTransaction sample_tx() {
  SignedTransaction tx;
  tx.actions.push_back(Json::parse(R"({"cx":{"oid":"H","c":"SOL-USD"}})"));
  tx.actions.push_back(Json::parse(R"({"m":{"sz":1.5,"b":false}})"));
  tx.nonce = std::numeric_limits<uint64_t>::max();
  tx.account = "ACC";
  tx.signer = "SGN";
  tx.signature = "SIG";
  return tx;
}

TEST(SignedToPy, KeysInFixedOrder) {
  const std::string base =
      "'actions': [{'cx': {'c': 'SOL-USD', 'oid': 'H'}}, {'m': {'b': False, 'sz': 1.5}}], "
      "'nonce': 18446744073709551615, 'account': 'ACC', 'signer': 'SGN', 'signature': 'SIG'";
  SignedTransaction plain = sample_tx();
  SignedTransaction single = sample_tx();
  single.order_id = "ID1";
  SignedTransaction batch = sample_tx();
  batch.order_ids = std::vector<std::string>{"ID1", "ID2"};
  SignedTransaction empty_batch = sample_tx();
  empty_batch.order_ids = std::vector<std::string>{};
  SignedTransaction both = sample_tx();
  both.order_id = "ID0";
  both.order_ids = std::vector<std::string>{"ID1"};

  const std::pair<const SignedTransaction*, std::string> cases[] = {
      {&plain, "{" + base + "}"},
      {&single, "{" + base + ", 'order_id': 'ID1'}"},
      {&batch, "{" + base + ", 'order_ids': ['ID1', 'ID2']}"},
      {&empty_batch, "{" + base + ", 'order_ids': []}"},
      {&both, "{" + base + ", 'order_id': 'ID0', 'order_ids': ['ID1']}"},
  };
  for (const auto& [tx, python] : cases) {
    SCOPED_TRACE(python);
    PyRef got = PyRef::steal(py::signed_to_py(*tx));
    ASSERT_TRUE(got);
    PyRef want = eval(python);
    ASSERT_TRUE(want);
    EXPECT_TRUE(same_tree(got.get(), want.get())) << repr(got.get());
  }
}

TEST(SignedToPy, FailureAnywhereReturnsNothing) {
  SignedTransaction in_actions = sample_tx();
  in_actions.actions.push_back(Json("\xfe"));
  SignedTransaction in_ids = sample_tx();
  in_ids.order_ids = std::vector<std::string>{"ok", "\xfe"};
  for (const auto* tx : {&in_actions, &in_ids}) {
    EXPECT_EQ(py::signed_to_py(*tx), nullptr);
    EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_UnicodeDecodeError));
    PyErr_Clear();
  }
}

TEST(KeyTables, RebuiltForANewInterpreterAndRefusedInASubInterpreter) {
  Json value = Json::parse(R"({"sz":1})");
  PyRef before = PyRef::steal(py::json_to_py(value));
  ASSERT_TRUE(before);
  before = PyRef();

  // A sub-interpreter must not receive the main interpreter's strings.
  PyThreadState* main_state = PyThreadState_Get();
  PyThreadState* sub = Py_NewInterpreter();
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(py::json_to_py(value), nullptr);
  EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_ImportError));
  PyErr_Clear();
  Py_EndInterpreter(sub);
  PyThreadState_Swap(main_state);

  // After finalisation the old strings are gone; a new interpreter gets its own.
  Py_FinalizeEx();
  start_python();
  expect_converts_to(value, "{'sz': 1}");
  SignedTransaction tx = sample_tx();
  PyRef d = PyRef::steal(py::signed_to_py(tx));
  ASSERT_TRUE(d);
  EXPECT_EQ(PyDict_Size(d.get()), 5);
}

}  // namespace
