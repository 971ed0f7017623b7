// Ownership, published properties, the class registry and form streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "velmora/host/exception.h"
#include "velmora/host/form_stream.h"
#include "velmora/host/properties.h"
#include "velmora/host/registry.h"
#include "velmora/host/streams.h"

namespace velmora::host {
namespace {

std::vector<std::string> g_events;  // construction, setter and Loaded calls, in order

// A component whose constructor values differ from some stream defaults and
// whose setters have side effects, as the tone component's do.
enum TProbeWindow { pw_0, pw_54, pw_67, pw_72, pw_92 };
enum TProbeBits { pb8, pb16 };

class TProbe : public TComponent {
 public:
  explicit TProbe(TComponent* owner) : TComponent(owner) { g_events.push_back("create"); }
  ~TProbe() override { g_events.push_back("destroy " + Name()); }

  std::string ClassName() const override { return "TProbe"; }

  int32_t Volume() const { return volume_; }
  void set_Volume(int32_t v) { volume_ = v; }
  int32_t Point() const { return point_; }
  void set_Point(int32_t v) { point_ = v; }
  bool CutMinus() const { return cut_minus_; }
  void set_CutMinus(bool v) { cut_minus_ = v; }
  TProbeWindow Window() const { return window_; }
  void set_Window(TProbeWindow v) {
    window_ = v;
    static constexpr int kCodes[] = {5, 2, 1, 4, 3};
    window_code = kCodes[v];
    g_events.push_back("set Window");
  }
  TProbeBits Bits() const { return bits_; }
  void set_Bits(TProbeBits v) {
    bits_ = v;
    width = v == pb8 ? 8 : 16;
  }
  std::string About() const { return "Varkosh"; }
  void set_About(const std::string&) {}  // always reads the same
  const std::string& Keys() const { return keys_; }
  void set_Keys(const std::string& v) {
    keys_ = v;
    g_events.push_back("set Keys " + v);
  }
  uint32_t Big() const { return big_; }
  void set_Big(uint32_t v) { big_ = v; }

  void Loaded() override {
    TComponent::Loaded();
    g_events.push_back("loaded");
  }

  const std::vector<PropInfo>& PublishedProperties() const override {
    static const std::vector<PropInfo> props = {
        StringProperty<TProbe>("About", &TProbe::About, &TProbe::set_About),
        StringProperty<TProbe>("Keys", &TProbe::Keys, &TProbe::set_Keys),
        IntegerProperty<TProbe>("Volume", &TProbe::Volume, &TProbe::set_Volume, 100),
        IntegerProperty<TProbe>("Point", &TProbe::Point, &TProbe::set_Point, 2048),
        BooleanProperty<TProbe>("CutMinus", &TProbe::CutMinus, &TProbe::set_CutMinus, true),
        EnumProperty<TProbe, TProbeWindow>("Window", {"pw_0", "pw_54", "pw_67", "pw_72", "pw_92"},
                                           &TProbe::Window, &TProbe::set_Window),
        EnumProperty<TProbe, TProbeBits>("Bits", {"pb8", "pb16"}, &TProbe::Bits, &TProbe::set_Bits,
                                         pb16),
        IntegerProperty<TProbe>("Big", &TProbe::Big, &TProbe::set_Big, 0),
    };
    return props;
  }

  int window_code = 5;  // what set_Window derives; the constructor sets the field only
  int width = 16;       // what set_Bits derives

 private:
  int32_t volume_ = 90;
  int32_t point_ = 2048;
  bool cut_minus_ = false;
  TProbeWindow window_ = pw_0;
  TProbeBits bits_ = pb8;
  std::string keys_;
  uint32_t big_ = 0;
};

class FormStream : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClass("TProbe", FactoryOf<TProbe>());
    g_events.clear();
  }
};

TEST(Ownership, OwnerFreesChildrenInReverseOrderOnce) {
  g_events.clear();
  auto* owner = new TComponent(nullptr);
  auto* a = new TProbe(owner);
  a->set_Name("A");
  auto* b = new TProbe(owner);
  b->set_Name("B");
  auto* c = new TProbe(owner);
  c->set_Name("C");
  EXPECT_EQ(owner->ComponentCount(), 3);
  EXPECT_EQ(owner->Components(1), b);
  EXPECT_EQ(c->ComponentIndex(), 2);
  EXPECT_EQ(owner->FindComponent("b"), b);
  EXPECT_THROW(owner->Components(3), EListError);

  delete b;  // leaves its owner first
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(owner->Components(1), c);
  g_events.clear();
  delete owner;  // frees C, then A; never B again
  EXPECT_EQ(g_events, (std::vector<std::string>{"destroy C", "destroy A"}));
}

TEST(Ownership, NamesAreIdentifiersUniqueAmongSiblings) {
  TComponent owner(nullptr);
  auto* a = new TProbe(&owner);
  auto* b = new TProbe(&owner);
  a->set_Name("DTMF1");
  EXPECT_THROW(b->set_Name("dtmf1"), EComponentError);
  EXPECT_THROW(b->set_Name("1abc"), EComponentError);
  EXPECT_THROW(b->set_Name("a b"), EComponentError);
  b->set_Name("_x2");
  EXPECT_EQ(b->Name(), "_x2");
  b->set_Name("");
  EXPECT_EQ(b->Name(), "");
  // Moving a component to another owner.
  TComponent other(nullptr);
  other.InsertComponent(a);
  EXPECT_EQ(a->Owner(), &other);
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(TComponent(nullptr).ClassName(), "TComponent");  // from the dynamic type
}

TEST(Properties, TextConversions) {
  TProbe p(nullptr);
  const PropInfo* volume = FindProperty(p, "volume");
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ(volume->name, "Volume");
  SetPropText(p, *volume, "-25");
  EXPECT_EQ(p.Volume(), -25);
  EXPECT_EQ(GetPropText(p, *volume), "-25");
  const PropInfo* cut = FindProperty(p, "CutMinus");
  SetPropText(p, *cut, "tRuE");
  EXPECT_EQ(GetPropText(p, *cut), "True");
  const PropInfo* window = FindProperty(p, "Window");
  SetPropText(p, *window, "pw_92");
  EXPECT_EQ(p.window_code, 3);
  EXPECT_EQ(GetPropText(p, *window), "pw_92");
  const PropInfo* big = FindProperty(p, "Big");
  SetPropText(p, *big, "4294967295");
  EXPECT_EQ(p.Big(), 4294967295u);
  EXPECT_EQ(FindProperty(p, "Nope"), nullptr);

  struct Bad {
    const char* prop;
    const char* text;
  } bad[] = {{"Volume", "abc"}, {"Volume", "2147483648"}, {"Volume", ""},    {"Volume", "1.5"},
             {"Volume", "+-1"}, {"CutMinus", "yes"},      {"CutMinus", "1"}, {"Window", "pw_93"},
             {"Big", "-1"},     {"Big", "4294967296"}};
  for (const Bad& b : bad) {
    try {
      SetPropText(p, *FindProperty(p, b.prop), b.text);
      ADD_FAILURE() << b.prop << " accepted " << b.text;
    } catch (const EConvertError& e) {
      std::string msg = e.what();
      EXPECT_NE(msg.find(b.prop), std::string::npos) << msg;
      EXPECT_NE(msg.find(std::string("'") + b.text + "'"), std::string::npos) << msg;
    }
  }
  EXPECT_EQ(p.Volume(), -25);  // a refused value changes nothing
}

TEST_F(FormStream, WritesOnlyValuesThatDifferFromTheirDefaults) {
  TProbe p(nullptr);
  p.set_Name("DTMF1");
  // About and Keys and Window have no default: always written.  Volume (90
  // against 100), CutMinus (False against True) and Bits (pb8 against pb16)
  // differ from their defaults; Point and Big equal theirs.
  EXPECT_EQ(ComponentToText(p),
            "object DTMF1: TProbe\n"
            "  About = 'Varkosh'\n"
            "  Keys = ''\n"
            "  Volume = 90\n"
            "  CutMinus = False\n"
            "  Window = pw_0\n"
            "  Bits = pb8\n"
            "end\n");
  p.set_Volume(100);
  p.set_CutMinus(true);
  p.set_Point(4096);
  EXPECT_EQ(ComponentToText(p).find("Volume"), std::string::npos);
  EXPECT_NE(ComponentToText(p).find("  Point = 4096\n"), std::string::npos);
}

TEST_F(FormStream, ReadingAssignsThroughSettersAfterConstruction) {
  TComponent owner(nullptr);
  TProbe original(nullptr);
  original.set_Name("Probe7");
  original.set_Volume(100);  // equal to its default: not written, stays 90 when read
  original.set_Window(pw_92);
  original.set_Bits(pb16);
  original.set_Keys("12'#\r\n\xc0\xff");
  original.set_Big(3000000000u);
  std::string text = ComponentToText(original);
  EXPECT_EQ(text.find("Volume"), std::string::npos);
  EXPECT_NE(text.find("  Keys = '12''#'#13#10#192#255\n"), std::string::npos) << text;

  g_events.clear();
  TComponent* read = ComponentFromText(text, &owner);
  auto* p = dynamic_cast<TProbe*>(read);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Owner(), &owner);
  EXPECT_EQ(p->Name(), "Probe7");
  EXPECT_EQ(p->Volume(), 90);    // the constructor's value
  EXPECT_EQ(p->window_code, 3);  // the setter ran
  EXPECT_EQ(p->width, 16);
  EXPECT_EQ(p->Keys(), "12'#\r\n\xc0\xff");
  EXPECT_EQ(p->Big(), 3000000000u);
  EXPECT_FALSE(p->InState(csLoading | csReading));
  EXPECT_EQ(g_events, (std::vector<std::string>{"create", "set Keys 12'#\r\n\xc0\xff", "set Window",
                                                "loaded"}));
  // Through a stream, at its position.
  TMemoryStream m;
  m.WriteBuffer("xx", 2);
  WriteComponent(m, *p);
  m.set_Position(2);
  std::unique_ptr<TComponent> again(ReadComponent(m, nullptr));
  EXPECT_EQ(ComponentToText(*again), ComponentToText(*p));
}

TEST_F(FormStream, ReaderAcceptsTheNotationsOfHandWrittenForms) {
  std::unique_ptr<TComponent> c(
      ComponentFromText("object TProbe\r\n"
                        "  keys = 'a' +\n"
                        "    'b'#65\n"
                        "  VOLUME = +5\n"
                        "  Window = PW_67\n"
                        "  object Inner: TProbe\n"
                        "    Volume = -1\n"
                        "  end\n"
                        "end\n",
                        nullptr));
  auto* p = dynamic_cast<TProbe*>(c.get());
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Name(), "");
  EXPECT_EQ(p->Keys(), "abA");
  EXPECT_EQ(p->Volume(), 5);
  EXPECT_EQ(p->window_code, 1);
  ASSERT_EQ(p->ComponentCount(), 1);
  EXPECT_EQ(dynamic_cast<TProbe*>(p->Components(0))->Volume(), -1);
}

TEST_F(FormStream, FailuresNameTheCulpritAndLeaveNothingBehind) {
  TComponent owner(nullptr);
  struct Case {
    const char* text;
    const char* needle;
  } cases[] = {
      {"object X: TNoSuchClass\nend\n", "TNoSuchClass"},
      {"object X: TProbe\n  Loudness = 3\nend\n", "Loudness"},
      {"object X: TProbe\n  Volume = loud\nend\n", "'loud'"},
      {"object X: TProbe\n  Volume = 'loud'\nend\n", "X.Volume"},
      {"object X: TProbe\n  Keys = 5\nend\n", "X.Keys"},
      {"object X: TProbe\n  Keys = 'open\nend\n", "Line 2"},
      {"object X: TProbe\n  Keys = #999\nend\n", "Line 2"},
      {"object X: TProbe\n  Volume 3\nend\n", "'=' expected"},
      {"object X: TProbe\n  Volume = 3\n", "'end' expected"},
      {"object X: TProbe\nend\nend\n", "End of text"},
      {"object 9: TProbe\nend\n", "Line 1"},
      {"thing X: TProbe\nend\n", "'object' expected"},
      {"object X: TProbe\n  object X: TProbe\n  end\n  Volume = z\nend\n", "X.Volume"},
      {"", "'object' expected"},
  };
  for (const Case& c : cases) {
    g_events.clear();
    try {
      ComponentFromText(c.text, &owner);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find(c.needle), std::string::npos)
          << e.what() << " for " << c.text;
    }
    EXPECT_EQ(owner.ComponentCount(), 0) << c.text;
    size_t created = std::count(g_events.begin(), g_events.end(), "create");
    size_t destroyed = std::count_if(g_events.begin(), g_events.end(), [](const std::string& e) {
      return e.rfind("destroy", 0) == 0;
    });
    EXPECT_EQ(created, destroyed) << c.text;
  }
}

TEST(Registry, PalettePagesAndLookup) {
  RegisterComponents("VELMORA-TEST",
                     {{"TProbeA", FactoryOf<TProbe>()}, {"TProbeB", FactoryOf<TProbe>()}});
  RegisterComponents("VELMORA-TEST", {{"TProbeA", FactoryOf<TProbe>()}});  // again: no duplicate
  EXPECT_EQ(PaletteClasses("VELMORA-TEST"), (std::vector<std::string>{"TProbeA", "TProbeB"}));
  EXPECT_TRUE(PaletteClasses("NO-PAGE").empty());
  EXPECT_TRUE(static_cast<bool>(GetClass("tprobeb")));
  std::unique_ptr<TComponent> made(FindClass("TProbeA")(nullptr));
  EXPECT_EQ(made->ClassName(), "TProbe");
  UnRegisterClass("TProbeB");
  EXPECT_FALSE(static_cast<bool>(GetClass("TProbeB")));
  try {
    FindClass("TProbeB");
    FAIL();
  } catch (const EClassNotFound& e) {
    EXPECT_EQ(std::string(e.what()), "Class TProbeB not found");
  }
}

}  // namespace
}  // namespace velmora::host
