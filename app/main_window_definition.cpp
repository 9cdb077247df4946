// The test definition on the main window: the line store Memo1 holds the
// file's lines, the address and port fields and the eighteen slots its items.
// Reading the file and binding its lines are sequencing/'s rules.
#include "app/main_window.h"

#include "controls/edit.h"
#include "controls/label.h"
#include "controls/memo.h"
#include "controls/open_dialog.h"
#include "sequencing/definition_file.h"

#include <QFileInfo>

void TForm1::FillLineStore(const QString& fileName) {
    Memo1->SetText(ReadDefinitionFile(fileName));
}

void TForm1::LoadTestDefinition() {
    const qsizetype lineCount = Memo1->LineCount();
    // Lines after the last slot line are counted as items but applied to
    // nothing, so the walk stops there.
    for (qsizetype i = 0; i < qMin(lineCount, kLastSlotLine + 1); ++i) {
        const TDefinitionLine line = SplitDefinitionLine(Memo1->Line(i));
        const TLineBinding binding = BindDefinitionLine(i);
        if (binding.kind == TLineBinding::TKind::Address) {
            EditAddress->SetText(line.value);
        } else if (binding.kind == TLineBinding::TKind::Port) {
            EditPort->SetText(line.value);
        } else if (binding.kind == TLineBinding::TKind::Slot) {
            const TTestSlot& slot = Slot(binding.slot);
            slot.Label->SetCaption(line.label);
            slot.Label->show();
            slot.Result->show();
            slot.Result->setAccessibleName(slot.Label->ShownText());
            slot.SetCommand(line.value);
            slot.Holder()->hide();
        }
    }
}

void TForm1::LoadReplyChecks(const QString& definitionFile) {
    m_checks = TReplyChecks();
    const QString checksFile = ChecksFileOf(definitionFile);
    if (!QFileInfo::exists(checksFile))
        return;
    QList<QByteArray> labels;
    for (qsizetype i = kFirstItemLine; i < Memo1->LineCount(); ++i)
        labels.append(SplitDefinitionLine(Memo1->Line(i)).label);
    // Read after the definition is applied: a refusal goes to the error
    // display and the definition stays, without checks.
    m_checks = TReplyChecks::Read(checksFile, labels);
}

void TForm1::StartupLoad() {
    const QString fileName = QStringLiteral("default1.tst");
    Memo1->Clear();
    FillLineStore(fileName);
    if (Memo1->LineCount() > 1)
        LoadTestDefinition();
    LoadReplyChecks(fileName);
}

void TForm1::Open1Click(QObject*) {
    if (!OpenDialog1->Execute())
        return;
    FillLineStore(OpenDialog1->FileName);
    LoadTestDefinition();
    LoadReplyChecks(OpenDialog1->FileName);
}

void TForm1::BitBtnOpenClick(QObject* Sender) {
    Open1Click(Sender);
}
