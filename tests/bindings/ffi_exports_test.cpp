// The kvn_ support functions native extensions call: type checks with their fixed
// texts, values, error classes and foreign-object wrappers.
#include "ffi_fixture.h"

#include <mruby/data.h>

#include <cstdlib>

#include "bindings/kvn.h"

namespace ffi_test {
namespace {

const mrb_data_type other_type = {"Other", nullptr};
// Same name as the CPtr type at another address, as an extension's own copy.
const mrb_data_type cptr_copy = {"CPtr", nullptr};

mrb_value check_float(mrb_state *mrb, mrb_value)
{
    mrb_value v;
    mrb_get_args(mrb, "o", &v);
    kvn_typecheck_float(mrb, v);
    return mrb_true_value();
}

mrb_value check_int(mrb_state *mrb, mrb_value)
{
    mrb_value v;
    mrb_get_args(mrb, "o", &v);
    kvn_typecheck_int(mrb, v);
    return mrb_true_value();
}

mrb_value check_bool(mrb_state *mrb, mrb_value)
{
    mrb_value v;
    mrb_get_args(mrb, "o", &v);
    kvn_typecheck_bool(mrb, v);
    return mrb_true_value();
}

mrb_value check_cptr(mrb_state *mrb, mrb_value)
{
    mrb_value v;
    mrb_get_args(mrb, "o", &v);
    kvn_typecheck_aggregate(mrb, v, ffi_context.cptr_class, &cptr_copy);
    return mrb_true_value();
}

mrb_value make_other(mrb_state *mrb, mrb_value)
{
    return mrb_obj_value(mrb_data_object_alloc(mrb, mrb->object_class, nullptr, &other_type));
}

class ExportsTest : public FfiTest {
protected:
    void SetUp() override
    {
        FfiTest::SetUp();
        RClass *k = mrb_->kernel_module;
        mrb_define_module_function(mrb_, k, "check_float", check_float, MRB_ARGS_REQ(1));
        mrb_define_module_function(mrb_, k, "check_int", check_int, MRB_ARGS_REQ(1));
        mrb_define_module_function(mrb_, k, "check_bool", check_bool, MRB_ARGS_REQ(1));
        mrb_define_module_function(mrb_, k, "check_cptr", check_cptr, MRB_ARGS_REQ(1));
        mrb_define_module_function(mrb_, k, "make_other", make_other, MRB_ARGS_NONE());
        eval("class Thing; end");
    }
};

TEST_F(ExportsTest, TypeChecksAcceptTheirTypesAndRaiseFixedTexts)
{
    struct Case {
        const char *call;
        const char *message;  // null: accepted
    };
    const Case cases[] = {
        {"check_bool(nil)", nullptr},
        {"check_bool(true)", nullptr},
        {"check_bool(false)", nullptr},
        {"check_bool(0)", "wrong argument type Fixnum (expected true or false)"},
        {"check_bool(:yes)", "wrong argument type Symbol (expected true or false)"},
        {"check_bool('true')", "wrong argument type String (expected true or false)"},
        {"check_bool(1.5)", "wrong argument type Float (expected true or false)"},
        {"check_bool(Thing.new)", "wrong argument type Thing (expected true or false)"},
        {"check_cptr(FFI::CPtr.new)", nullptr},
        {"check_cptr(nil)", "wrong argument type nil (expected FFI::CPtr)"},
        {"check_cptr(12)", "wrong argument type Fixnum (expected FFI::CPtr)"},
        {"check_cptr(:ptr)", "wrong argument type Symbol (expected FFI::CPtr)"},
        {"check_cptr(true)", "wrong argument type true (expected FFI::CPtr)"},
        {"check_cptr(false)", "wrong argument type false (expected FFI::CPtr)"},
        {"check_cptr(Thing.new)", "wrong argument type Thing (expected FFI::CPtr)"},
        {"check_cptr(make_other)", "wrong argument type Object (expected FFI::CPtr)"},
        {"check_float(1.5)", nullptr},
        {"check_float(nil)", "wrong argument type nil (expected Float)"},
        {"check_float(2)", "wrong argument type Integer (expected Float)"},
        {"check_int(2)", nullptr},
        {"check_int('2')", "wrong argument type String (expected Integer)"},
        {"check_int(false)", "wrong argument type false (expected Integer)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.call);
        Outcome out = run(c.call);
        if (!c.message) {
            EXPECT_FALSE(out.raised) << out.error_class << ": " << out.message;
            continue;
        }
        EXPECT_TRUE(out.raised);
        EXPECT_EQ(out.error_class, "TypeError");
        EXPECT_EQ(out.message, c.message);
    }
}

TEST_F(ExportsTest, ValuesAndErrorClasses)
{
    mrb_value f = kvn_float_value(mrb_, 2.5);
    ASSERT_TRUE(mrb_float_p(f));
    EXPECT_DOUBLE_EQ(mrb_float(f), 2.5);
    EXPECT_EQ(kvn_getruntime_error(mrb_), mrb_exc_get(mrb_, "RuntimeError"));
    EXPECT_EQ(kvn_getargument_error(mrb_), mrb_exc_get(mrb_, "ArgumentError"));
    EXPECT_STREQ(mrb_class_name(mrb_, kvn_getargument_error(mrb_)), "ArgumentError");
}

TEST_F(ExportsTest, FreeForeignObjectFreesOwnedDataOnly)
{
    // Run under the leak checker of the sanitizer build: the owned block must go,
    // the borrowed one must stay usable.
    static char borrowed[8] = "kept";
    kvn_foreign_object *owning = static_cast<kvn_foreign_object *>(std::malloc(sizeof(kvn_foreign_object)));
    *owning = {1, std::malloc(64), 1};
    kvn_free_foreign_object(mrb_, owning);
    kvn_foreign_object *lending = static_cast<kvn_foreign_object *>(std::malloc(sizeof(kvn_foreign_object)));
    *lending = {1, borrowed, 0};
    kvn_free_foreign_object(mrb_, lending);
    kvn_foreign_object *other_kind = static_cast<kvn_foreign_object *>(std::malloc(sizeof(kvn_foreign_object)));
    *other_kind = {2, borrowed, 1};
    kvn_free_foreign_object(mrb_, other_kind);
    kvn_free_foreign_object(mrb_, nullptr);
    EXPECT_STREQ(borrowed, "kept");
}

}  // namespace
}  // namespace ffi_test
