#include "driver/module_hooks.h"

#include "console/form_set.h"
#include "console/keys.h"
#include "console/screen.h"
#include "driver/records.h"
#include "driver/report_files.h"
#include "format/codes.h"
#include "format/dates.h"
#include "format/packed.h"

namespace driver {

namespace {

FormEngine& Engine() {
  static FormEngine engine;
  return engine;
}

// Where the acceptance check puts the parameters while RunParameterForm
// runs: its caller's. Null outside a run.
ReportParameters*& FormParameters() {
  static ReportParameters* parameters = nullptr;
  return parameters;
}

std::string Last(const std::string& s, size_t n) {
  return s.size() <= n ? s : s.substr(s.size() - n);
}

int16_t Clamp16(double v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(v);
}

}  // namespace

void SetFormEngine(FormEngine engine) {
  Engine() = std::move(engine);
}

int16_t RunParameterForm(ReportParameters* parameters) {
  if (!Engine().run_form) return 0;
  ReportParameters* const outer = FormParameters();
  FormParameters() = parameters;
  const int16_t key = Engine().run_form(kParameterForm);
  FormParameters() = outer;
  return key;
}

void PresetParameterForm(const std::string& working_date) {
  console::FormSet& forms = console::Forms();
  forms.SetValue(kParameterForm, kFieldReportDate, format::DateToEditText(working_date));
  forms.SetValue(kParameterForm, kFieldFromCommunity, "1");
  forms.SetValue(kParameterForm, kFieldFromFlat, "0");
  forms.SetValue(kParameterForm, kFieldToCommunity, "999");
  forms.SetValue(kParameterForm, kFieldToFlat, "999");
  forms.SetValue(kParameterForm, kFieldCopies, "1");
}

bool ConvertParameters(const std::string& date, const std::string& from_community,
                       const std::string& from_flat, const std::string& to_community,
                       const std::string& to_flat, const std::string& copies, ReportParameters* p) {
  p->report_date = format::ParseDateText(date);
  p->range_from_key = format::TextToCode(from_community + "." + from_flat);
  p->range_to_key = format::TextToCode(to_community + "." + to_flat);
  p->copies_per_community = Clamp16(NumericValue(copies));
  return !(p->range_from_key > p->range_to_key);
}

int16_t AcceptParameterForm(int16_t form, int16_t key, ReportParameters* parameters) {
  if (key == console::kKeyEsc || form != kParameterForm) return 0;
  const console::FormSet& forms = console::Forms();
  auto v = [&](int16_t field) { return forms.Value(kParameterForm, field); };
  if (!ConvertParameters(v(kFieldReportDate), v(kFieldFromCommunity), v(kFieldFromFlat),
                         v(kFieldToCommunity), v(kFieldToFlat), v(kFieldCopies), parameters)) {
    // The form's usual signal for a refused value; the engine then puts the
    // user back on the first field.
    console::Beep();
    return -1;
  }
  console::Forms().SetValue(kConfirmForm, 1, "");
  if (Engine().run_form) Engine().run_form(kConfirmForm);
  return forms.Value(kConfirmForm, 1) == "S" ? 0 : -1;
}

int16_t AcceptParameterForm(int16_t form, int16_t key) {
  ReportParameters dropped;
  return AcceptParameterForm(form, key, FormParameters() ? FormParameters() : &dropped);
}

int16_t TransferBrowseChoice(int16_t list, int16_t form, int16_t field, ReportBuffers& buffers) {
  std::string text;
  if (list == 1) {
    text = Last(format::UnpackDigits(CommunityView{buffers.community}.Code()), 3);
  } else if (list == 2 || list == 3) {
    text = Last(format::UnpackDigits(OwnerView{buffers.owner}.Key()), 3);
  } else {
    return 0;
  }
  if (Engine().store_field) return Engine().store_field(form, text, field, 0);
  console::Forms().SetValue(form, field, text);
  return 0;
}

int16_t BrowseStartKey(int16_t list, std::string* key, std::string* key_again) {
  std::string k;
  if (list == 2) {
    k = format::TextToCode("0" + console::Forms().Value(kParameterForm, kFieldFromCommunity));
  } else if (list == 3) {
    k = format::TextToCode("0" + console::Forms().Value(kParameterForm, kFieldToCommunity));
  }
  *key = k;
  *key_again = k;
  return 0;
}

std::string BrowseLine(int16_t list, ReportBuffers& buffers) {
  if (list == 1) {
    CommunityView c{buffers.community};
    return Last(format::UnpackDigits(c.Code()), 3) + "  " + c.Name();
  }
  if (list == 2 || list == 3) {
    OwnerView o{buffers.owner};
    return Last(format::UnpackDigits(o.Key()), 3) + "  " + o.Name() + "  " + o.Flat();
  }
  return std::string();
}

}  // namespace driver
