#include "report/statement_texts.h"

#include "settings/language.h"
#include "settings/session.h"
#include "settings/translate.h"
#include "util/codepage.h"

namespace tarnevos {
namespace {

// UTF-8: Catalan, Spanish, Galician, Aranese.
using Versions = PerLanguage<const char*>;

constexpr std::array<Versions, static_cast<size_t>(StatementText::kCount)>
    kTexts = {{
        // kDocumentTitle
        {"Extractes dels propietaris", "Extractos de los propietarios",
         "Extractos dos propietarios", "Extractes des proprietaris"},
        // kTitle
        {"EXTRACTE DEL PROPIETARI", "EXTRACTO DEL PROPIETARIO",
         "EXTRACTO DO PROPIETARIO", "EXTRACTE DETH PROPRIETARI"},
        // kIssued
        {"Data d'emissió: {1}", "Fecha de emisión: {1}", "Data de emisión: {1}",
         "Data d'emission: {1}"},
        // kCommunity
        {"Comunitat de propietaris ({1}) {2}",
         "Comunidad de propietarios ({1}) {2}",
         "Comunidade de propietarios ({1}) {2}",
         "Comunautat de proprietaris ({1}) {2}"},
        // kPeriod
        {"Període: {1} - {2}", "Periodo: {1} - {2}", "Período: {1} - {2}",
         "Periòde: {1} - {2}"},
        // kUpTo
        {"Període: fins al {1}", "Periodo: hasta el {1}", "Período: ata o {1}",
         "Periòde: enquia eth {1}"},
        // kUnit
        {"Departament {1}  {2}", "Departamento {1}  {2}",
         "Departamento {1}  {2}", "Departament {1}  {2}"},
        // kOwner
        {"Propietari: {1}", "Propietario: {1}", "Propietario: {1}",
         "Proprietari: {1}"},
        // kDistribution
        {"Repartiment de les despeses de la comunitat",
         "Reparto de los gastos de la comunidad",
         "Reparto dos gastos da comunidade",
         "Repartiment des despenses dera comunautat"},
        // kAmountsIn
        {"Imports en {1}", "Importes en {1}", "Importes en {1}",
         "Impòrts en {1}"},
        // kColumnHeading
        {"Col.", "Col.", "Col.", "Col."},
        // kConceptHeading
        {"Concepte", "Concepto", "Concepto", "Concèpte"},
        // kCommunityExpensesHeading
        {"Despeses comunitat", "Gastos comunidad", "Gastos comunidade",
         "Despenses comunautat"},
        // kCoefficientHeading
        {"Coeficient / total", "Coeficiente / total", "Coeficiente / total",
         "Coeficient / totau"},
        // kShareHeading
        {"Import", "Importe", "Importe", "Impòrt"},
        // kPrivateExpenses
        {"Despeses particulars del departament",
         "Gastos particulares del departamento",
         "Gastos particulares do departamento",
         "Despenses particulars deth departament"},
        // kTotalCharged
        {"Total despeses del departament", "Total gastos del departamento",
         "Total gastos do departamento", "Totau despenses deth departament"},
        // kAccount
        {"Compte del departament", "Cuenta del departamento",
         "Conta do departamento", "Compde deth departament"},
        // kPreviousBalance
        {"Saldo anterior", "Saldo anterior", "Saldo anterior",
         "Sòlde anterior"},
        // kPaid
        {"Pagat fins al {1}", "Pagado hasta el {1}", "Pagado ata o {1}",
         "Pagat enquia eth {1}"},
        // kCurrentBalance
        {"Saldo actual", "Saldo actual", "Saldo actual", "Sòlde actuau"},
        // kInFavourOfCommunity
        {"{1} a favor de la comunitat", "{1} a favor de la comunidad",
         "{1} a favor da comunidade", "{1} a favor dera comunautat"},
        // kInFavourOfOwner
        {"{1} a favor del propietari", "{1} a favor del propietario",
         "{1} a favor do propietario", "{1} a favor deth proprietari"},
        // kSettled
        {"Saldat: no hi ha res pendent", "Saldado: no hay nada pendiente",
         "Saldado: non hai nada pendente", "Sòlde a zèro: arren pendent"},
        // kExplanation
        {"Com s'ha calculat", "Cómo se ha calculado", "Como se calculou",
         "Coma s'a calculat"},
        // kHowShares
        {"L'import de cada columna és el coeficient del departament dividit "
         "pel total de coeficients de la columna i multiplicat per les "
         "despeses de la comunitat en aquella columna, arrodonit al cèntim; "
         "quan el resultat cau just a mig cèntim, s'arrodoneix cap al cèntim "
         "parell.",
         "El importe de cada columna es el coeficiente del departamento "
         "dividido por el total de coeficientes de la columna y multiplicado "
         "por los gastos de la comunidad en esa columna, redondeado al "
         "céntimo; cuando el resultado cae justo en medio céntimo, se redondea "
         "hacia el céntimo par.",
         "O importe de cada columna é o coeficiente do departamento dividido "
         "polo total de coeficientes da columna e multiplicado polos gastos "
         "da comunidade nesa columna, redondeado ao céntimo; cando o "
         "resultado cae xusto en medio céntimo, redondéase cara ao céntimo "
         "par.",
         "Er impòrt de cada colomna ei eth coeficient deth departament "
         "dividit peth totau de coeficients dera colomna e multiplicat per "
         "es despenses dera comunautat en aquera colomna, arredonit ath "
         "centim; quan eth resultat cai just en mieg centim, s'arredonís cap "
         "ath centim par."},
        // kHowBalance
        {"Saldo actual = saldo anterior + pagat - total despeses. Un saldo "
         "negatiu és a favor de la comunitat (el propietari l'ha de pagar); "
         "un de positiu, a favor del propietari.",
         "Saldo actual = saldo anterior + pagado - total gastos. Un saldo "
         "negativo es a favor de la comunidad (el propietario debe pagarlo); "
         "uno positivo, a favor del propietario.",
         "Saldo actual = saldo anterior + pagado - total gastos. Un saldo "
         "negativo é a favor da comunidade (o propietario debe pagalo); un "
         "positivo, a favor do propietario.",
         "Sòlde actuau = sòlde anterior + pagat - totau despenses. Un sòlde "
         "negatiu ei a favor dera comunautat (eth proprietari l'a de pagar); "
         "un de positiu, a favor deth proprietari."},
        // kHowAdjustment
        {"Pels arrodoniments, la suma dels imports de tots els departaments "
         "pot diferir en uns cèntims de les despeses de la comunitat. Aquesta "
         "diferència no es carrega a cap departament: la comunitat la porta "
         "a la línia {2} del resum de liquidació. En aquest resum ha estat: "
         "{1}.",
         "Por los redondeos, la suma de los importes de todos los "
         "departamentos puede diferir en unos céntimos de los gastos de la "
         "comunidad. Esta diferencia no se carga a ningún departamento: la "
         "comunidad la lleva en la línea {2} del resumen de liquidación. En "
         "este resumen ha sido: {1}.",
         "Polos redondeos, a suma dos importes de todos os departamentos pode "
         "diferir nuns céntimos dos gastos da comunidade. Esta diferenza non "
         "se carga a ningún departamento: a comunidade lévaa na liña {2} do "
         "resumo de liquidación. Neste resumo foi: {1}.",
         "Per es arredoniments, era soma des impòrts de toti es departaments "
         "pòt diferir en uns centims des despenses dera comunautat. Aguesta "
         "diferéncia non se carga a cap departament: era comunautat la pòrte "
         "ena linha {2} deth resumit de liquidacion. En aguest resumit a "
         "estat: {1}."},
        // kHowRest
        {"Aquest resum no inclou tots els departaments de la comunitat: el "
         "que correspon als altres, amb la diferència dels arrodoniments, és "
         "a la línia {2} del resum de liquidació: {1}.",
         "Este resumen no incluye todos los departamentos de la comunidad: lo "
         "que corresponde a los demás, con la diferencia de los redondeos, "
         "está en la línea {2} del resumen de liquidación: {1}.",
         "Este resumo non inclúe todos os departamentos da comunidade: o que "
         "corresponde aos demais, coa diferenza dos redondeos, está na liña "
         "{2} do resumo de liquidación: {1}.",
         "Aguest resumit non inclou toti es departaments dera comunautat: çò "
         "que correspon as auti, damb era diferéncia des arredoniments, ei "
         "ena linha {2} deth resumit de liquidacion: {1}."},
        // kNoDifference
        {"cap diferència", "ninguna diferencia", "ningunha diferenza",
         "cap diferéncia"},
        // kFeeBase
        {"Honoraris de l'administrador: {1} departaments x {2} al mes x {3} "
         "mesos = {4}",
         "Honorarios del administrador: {1} departamentos x {2} al mes x {3} "
         "meses = {4}",
         "Honorarios do administrador: {1} departamentos x {2} ao mes x {3} "
         "meses = {4}",
         "Onoraris der administrador: {1} departaments x {2} eth mes x {3} "
         "mesi = {4}"},
        // kFeeVat
        {"; més l'IVA del {1} %: {2}", "; más el IVA del {1} %: {2}",
         "; máis o IVE do {1} %: {2}", "; mès er IVA deth {1} %: {2}"},
        // kFeeWithholding
        {"; menys la retenció de l'IRPF del {1} %: {2}",
         "; menos la retención del IRPF del {1} %: {2}",
         "; menos a retención do IRPF do {1} %: {2}",
         "; mens era retencion der IRPF deth {1} %: {2}"},
        // kFeeTotal
        {". Total {1}, que forma part de les despeses de la comunitat a la "
         "columna {2}.",
         ". Total {1}, que forma parte de los gastos de la comunidad en la "
         "columna {2}.",
         ". Total {1}, que forma parte dos gastos da comunidade na columna "
         "{2}.",
         ". Totau {1}, que hè part des despenses dera comunautat ena colomna "
         "{2}."},
        // kSaved
        {"{1} EXTRACTES DESATS A {2}", "{1} EXTRACTOS GUARDADOS EN {2}",
         "{1} EXTRACTOS GARDADOS EN {2}", "{1} EXTRACTES DESADI EN {2}"},
        // kNoneInRange
        {"CAP EXTRACTE: NO HI HA CAP DEPARTAMENT AL RANG",
         "NINGÚN EXTRACTO: NO HAY NINGÚN DEPARTAMENTO EN EL RANGO",
         "NINGÚN EXTRACTO: NON HAI NINGÚN DEPARTAMENTO NO RANGO",
         "CAP EXTRACTE: NON I A CAP DEPARTAMENT EN RANG"},
        // kNotSaved
        {"NO S'HAN POGUT DESAR ELS EXTRACTES A {1}",
         "NO SE HAN PODIDO GUARDAR LOS EXTRACTOS EN {1}",
         "NON SE PUIDERON GARDAR OS EXTRACTOS EN {1}",
         "NON S'AN POGUT DESAR ES EXTRACTES EN {1}"},
        // kFontMissing
        {"NO ES POT LLEGIR LA LLETRA {1}", "NO SE PUEDE LEER LA FUENTE {1}",
         "NON SE PODE LER A FONTE {1}", "NON SE POT LÉGER ERA LETRA {1}"},
    }};

}  // namespace

void StatementTexts::Load() {
  const Language language = SessionLanguage();
  for (size_t i = 0; i < kTexts.size(); ++i) {
    const std::string catalan = Cp850(kTexts[i][0]);
    std::string text = Translate(catalan);
    // No entry in the language file: the built-in version.
    if (text == catalan) text = Cp850(ForLanguage(kTexts[i], language));
    texts_[i] = std::move(text);
  }
}

std::string Fill(std::string_view text,
                 std::initializer_list<std::string_view> values) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{' && i + 2 < text.size() && text[i + 2] == '}' &&
        text[i + 1] >= '1' && text[i + 1] <= '9') {
      const size_t index = static_cast<size_t>(text[i + 1] - '1');
      if (index < values.size()) {
        out += values.begin()[index];
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

}  // namespace tarnevos
