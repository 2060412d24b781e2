// The sample texts of the practice pages, one row per language, each written in the language
// itself. The edit drafts carry small mistakes on purpose: they are what Edit corrects.
#include "onboarding/onboarding_view_model.h"

namespace tavrolin {

namespace {

struct DemoTexts {
    const char* writeDraft;
    const char* editDraft;
    const char* rewriteDraft;
    // Only where it differs from the rewrite draft.
    const char* flipDraft;
    const char* conversation[3];
};

// Every language but automatic, which falls back to Russian or English.
const DemoTexts& demoTexts(AppLanguage language) {
    static const DemoTexts arabic{"انقلع. لن أتولى مناوبة الإنتاج في عطلة نهاية الأسبوع هذه.",
                                  "أستطيع أن أنظر في هذا لاكن أحتاج صلاحيه الوصول إلى سجلات الإنتاج ولوحة النشر.",
                                  "يمكنني الانضمام لمدة ساعتين، لكنني أحتاج إلى قائمة الأولويات والمسؤول عن الإصدار.",
                                  nullptr,
                                  {"توقف الإنتاج بعد آخر عملية نشر.", "أنا أتحقق من السجلات والتنبيهات الآن.",
                                   "شكرًا. نحتاج إلى خطة استعادة قبل الساعة 4 مساءً."}};
    static const DemoTexts chinese{
        "走开。这个周末我不值生产班。",
        "我可以看看这个，但我须要生产日志和部署仪表盘的访问权线。",
        "我可以参加两个小时，但我需要优先级列表和发布负责人。",
        nullptr,
        {"上次部署后生产环境宕机了。", "我正在检查日志和告警。", "谢谢。我们需要在下午4点前制定恢复计划。"}};
    static const DemoTexts dutch{
        "Rot op. Ik neem dit weekend geen productiedienst.",
        "Ik kan hier naar kijke maar ik heb toegang nodig tot de prod logs en het deploy dashbord.",
        "Ik kan twee uur meedoen, maar ik heb de prioriteitenlijst en de release-eigenaar nodig.",
        nullptr,
        {"Productie ligt plat na de laatste deploy.", "Ik controleer nu de logs en alerts.",
         "Bedankt. We hebben voor 16:00 een herstelplan nodig."}};
    static const DemoTexts english{"Get lost. I'm not taking production this weekend.",
                                   "I can lok into this but I need acces to the prod loggs and deploy dashbord.",
                                   "I can join for two hours, but I need the priority list and the release owner.",
                                   nullptr,
                                   {"Production went down after the last deploy.", "I am checking logs and alerts now.",
                                    "Thanks. We need a recovery plan before 4 PM."}};
    static const DemoTexts german{
        "Hau ab. Ich übernehme dieses Wochenende keine Produktionsbereitschaft.",
        "Ich kan mir das ansehen, aber ich brauche Zugrif auf die Prod-Logs und das Deploy-Dashbord.",
        "Ich kann zwei Stunden dabei sein, brauche aber die Prioritätenliste und den Release-Verantwortlichen.",
        nullptr,
        {"Die Produktion ist nach dem letzten Deployment ausgefallen.", "Ich prüfe gerade Logs und Alerts.",
         "Danke. Wir brauchen bis 16 Uhr einen Wiederherstellungsplan."}};
    static const DemoTexts french{
        "Fiche-moi la paix. Je ne prends pas la production ce week-end.",
        "Je peux regarder ça mais j'ai besoin d'acces aux logs de prod et au tableau de bord de déploiment.",
        "Je peux me joindre à vous pendant deux heures, mais j'ai besoin de la liste des priorités et du "
        "responsable de la release.",
        nullptr,
        {"La production est tombée après le dernier déploiement.", "Je vérifie les logs et les alertes en ce moment.",
         "Merci. Il nous faut un plan de reprise avant 16 h."}};
    static const DemoTexts hebrew{"עזוב אותי. אני לא לוקח את משמרת הפרודקשן בסוף השבוע הזה.",
                                  "אני יכול לבדוק את זה אבל אני צריח גישה ללוגים של הפרודקשן ולדשבורד של הדיפלוי.",
                                  "אני יכול להצטרף לשעתיים, אבל אני צריך את רשימת העדיפויות ואת האחראי על הגרסה.",
                                  nullptr,
                                  {"הפרודקשן נפל אחרי הדיפלוי האחרון.", "אני בודק עכשיו את הלוגים וההתראות.",
                                   "תודה. אנחנו צריכים תוכנית התאוששות לפני 16:00."}};
    static const DemoTexts hindi{"दफ़ा हो जाओ। मैं इस वीकेंड प्रोडक्शन ड्यूटी नहीं लूँगा।",
                                 "मैं इसे देख सकता हूँ लेकिन मुझे प्रोड लॉग्स और डिप्लॉय डैशबोर्ड का एक्सेस चाहिये।",
                                 "मैं दो घंटे के लिए जुड़ सकता हूँ, लेकिन मुझे प्राथमिकता सूची और रिलीज़ के ज़िम्मेदार व्यक्ति की ज़रूरत है.",
                                 "मैं दो घंटे के लिए जुड़ सकता हूँ, लेकिन मुझे प्राथमिकता सूची और रिलीज़ के ज़िम्मेदार व्यक्ति की ज़रूरत है।",
                                 {"पिछले डिप्लॉय के बाद प्रोडक्शन डाउन हो गया।", "मैं अभी लॉग्स और अलर्ट्स देख रहा हूँ।",
                                  "धन्यवाद। हमें शाम 4 बजे से पहले रिकवरी प्लान चाहिए।"}};
    static const DemoTexts indonesian{
        "Pergi sana. Saya tidak mau ambil jaga produksi akhir pekan ini.",
        "Saya bisa liat ini tapi saya butuh akses ke log produksi dan dasbord deploy.",
        "Saya bisa bergabung selama dua jam, tetapi saya butuh daftar prioritas dan penanggung jawab rilis.",
        nullptr,
        {"Produksi mati setelah deploy terakhir.", "Saya sedang memeriksa log dan peringatan sekarang.",
         "Terima kasih. Kita butuh rencana pemulihan sebelum jam 4 sore."}};
    static const DemoTexts spanish{
        "Lárgate. No voy a cubrir producción este fin de semana.",
        "Puedo mirar esto pero nesesito acceso a los logs de prod y al dashbord de despliegue.",
        "Puedo unirme durante dos horas, pero necesito la lista de prioridades y al responsable de la versión.",
        nullptr,
        {"Producción se cayó después del último despliegue.", "Estoy revisando los logs y las alertas ahora.",
         "Gracias. Necesitamos un plan de recuperación antes de las 4 PM."}};
    static const DemoTexts italian{
        "Lasciami in pace. Questo fine settimana non mi prendo la produzione.",
        "Posso darci un ochiata ma mi serve l'accesso ai log di produzione e alla dashbord di deploy.",
        "Posso partecipare per due ore, ma mi servono la lista delle priorità e il responsabile del rilascio.",
        nullptr,
        {"La produzione è andata giù dopo l'ultimo deploy.", "Sto controllando log e avvisi adesso.",
         "Grazie. Ci serve un piano di ripristino entro le 16."}};
    static const DemoTexts polish{
        "Spadaj. Nie biorę dyżuru na produkcji w ten weekend.",
        "Moge się temu przyjżeć, ale potrzebuje dostępu do logów produkcyjnych i dashboardu wdrożeń.",
        "Mogę dołączyć na dwie godziny, ale potrzebuję listy priorytetów i osoby odpowiedzialnej za wydanie.",
        nullptr,
        {"Produkcja padła po ostatnim wdrożeniu.", "Sprawdzam teraz logi i alerty.",
         "Dzięki. Potrzebujemy planu przywrócenia przed 16:00."}};
    static const DemoTexts portuguese{
        "Vai catar coquinho. Não vou assumir a produção neste fim de semana.",
        "Posso dar uma olhada nisso mas preciso de aceso aos logs de prod e ao dashbord de deploy.",
        "Posso participar por duas horas, mas preciso da lista de prioridades e do responsável pela release.",
        nullptr,
        {"A produção caiu depois do último deploy.", "Estou verificando os logs e os alertas agora.",
         "Obrigado. Precisamos de um plano de recuperação antes das 16h."}};
    static const DemoTexts japanese{
        "ほっといてくれ。今週末は本番対応はやらない。",
        "これを見ることはできますが、本番のログとデプロイのダッシュボードへのアクセス権がひつようです。",
        "2時間なら参加できますが、優先順位リストとリリース責任者が必要です。",
        nullptr,
        {"前回のデプロイ後に本番環境が落ちました。", "今ログとアラートを確認しています。",
         "ありがとう。午後4時までに復旧計画が必要です。"}};
    static const DemoTexts korean{"꺼져. 이번 주말에 운영 당번은 안 해.",
                                  "이거 확인해 볼수 있는데 운영 로그랑 배포 대시보드 접근 권한이 필요해요.",
                                  "두 시간 동안 참여할 수 있지만, 우선순위 목록과 릴리스 담당자가 필요합니다.",
                                  nullptr,
                                  {"지난 배포 이후 운영 서버가 다운됐어요.", "지금 로그와 알림을 확인하고 있어요.",
                                   "고마워요. 오후 4시 전까지 복구 계획이 필요해요."}};
    static const DemoTexts russian{
        "Идите на три буквы. Я не беру прод в выходные.",
        "Я могу посмотреть в это, но мне нужен доступ к прод логам и дашборду деплоя.",
        "Я смогу подключиться на два часа, но мне нужен список приоритетов и ответственный за релиз.",
        nullptr,
        {"Прод упал после последнего деплоя.", "Я проверяю логи и алерты.",
         "Спасибо. Нам нужен план восстановления до 16:00."}};
    static const DemoTexts thai{
        "ไปไกล ๆ เลย สุดสัปดาห์นี้ฉันไม่รับเวรโปรดักชันนะ",
        "ฉันดูเรื่องนี้ให้ได้ แต่ต้องการสิทธิ์เข้าถึงล็อกโปรดักชันและแดชบอร์ดดีพลอย",
        "ฉันเข้าร่วมได้สองชั่วโมง แต่ต้องการรายการลำดับความสำคัญและผู้รับผิดชอบการปล่อยเวอร์ชัน",
        nullptr,
        {"โปรดักชันล่มหลังการดีพลอยครั้งล่าสุด", "ฉันกำลังตรวจสอบล็อกและการแจ้งเตือนอยู่", "ขอบคุณ เราต้องมีแผนกู้คืนก่อนบ่ายสี่โมง"}};
    static const DemoTexts turkish{
        "Defol. Bu hafta sonu üretim nöbetini almıyorum.",
        "Buna bakabilirim ama prod loglarına ve deploy dashbordına erişime ihtiyacım var.",
        "İki saatliğine katılabilirim ama öncelik listesine ve sürüm sorumlusuna ihtiyacım var.",
        nullptr,
        {"Son deploy'dan sonra üretim çöktü.", "Şu anda logları ve alarmları kontrol ediyorum.",
         "Teşekkürler. Saat 16:00'dan önce bir kurtarma planına ihtiyacımız var."}};
    static const DemoTexts ukrainian{
        "Відчепись. Я не беру прод на вихідних.",
        "Я можу подивитися на це, але мені потрібен доступ до прод логів і дашборду деплою.",
        "Я можу долучитися на дві години, але мені потрібні список пріоритетів і відповідальний за реліз.",
        nullptr,
        {"Прод упав після останнього деплою.", "Я перевіряю логи та алерти.",
         "Дякую. Нам потрібен план відновлення до 16:00."}};
    static const DemoTexts vietnamese{
        "Biến đi. Cuối tuần này tôi không trực production đâu.",
        "Tôi có thể xem việc này nhưng tôi cần quyền truy cập vào log prod và dashbord deploy.",
        "Tôi có thể tham gia trong hai giờ, nhưng tôi cần danh sách ưu tiên và người phụ trách bản phát hành.",
        nullptr,
        {"Production bị sập sau lần deploy gần nhất.", "Tôi đang kiểm tra log và cảnh báo.",
         "Cảm ơn. Chúng ta cần kế hoạch khôi phục trước 4 giờ chiều."}};

    switch (language) {
    case AppLanguage::arabic:
        return arabic;
    case AppLanguage::chinese:
        return chinese;
    case AppLanguage::dutch:
        return dutch;
    case AppLanguage::automatic:  // callers choose the fallback first
    case AppLanguage::english:
        return english;
    case AppLanguage::german:
        return german;
    case AppLanguage::french:
        return french;
    case AppLanguage::hebrew:
        return hebrew;
    case AppLanguage::hindi:
        return hindi;
    case AppLanguage::indonesian:
        return indonesian;
    case AppLanguage::spanish:
        return spanish;
    case AppLanguage::italian:
        return italian;
    case AppLanguage::polish:
        return polish;
    case AppLanguage::portuguese:
        return portuguese;
    case AppLanguage::japanese:
        return japanese;
    case AppLanguage::korean:
        return korean;
    case AppLanguage::russian:
        return russian;
    case AppLanguage::thai:
        return thai;
    case AppLanguage::turkish:
        return turkish;
    case AppLanguage::ukrainian:
        return ukrainian;
    case AppLanguage::vietnamese:
        return vietnamese;
    }
    return english;
}

// Automatic has no texts of its own: the drafts in the native language fall back to Russian,
// those in the second language to English.
AppLanguage nativeTextLanguage(AppLanguage language) {
    return language == AppLanguage::automatic ? AppLanguage::russian : language;
}
AppLanguage secondTextLanguage(AppLanguage language) {
    return language == AppLanguage::automatic ? AppLanguage::english : language;
}

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

}  // namespace

QString OnboardingViewModel::defaultWriteDraft(AppLanguage language) {
    return text(demoTexts(nativeTextLanguage(language)).writeDraft);
}

QString OnboardingViewModel::defaultEditDraft(AppLanguage language) {
    return text(demoTexts(secondTextLanguage(language)).editDraft);
}

QString OnboardingViewModel::defaultRewriteDraft(AppLanguage language) {
    return text(demoTexts(nativeTextLanguage(language)).rewriteDraft);
}

QString OnboardingViewModel::defaultFlipDraft(AppLanguage, AppLanguage companyLanguage) {
    const DemoTexts& texts = demoTexts(secondTextLanguage(companyLanguage));
    return text(texts.flipDraft ? texts.flipDraft : texts.rewriteDraft);
}

QList<OnboardingChatMessage> OnboardingViewModel::conversationMessages(AppLanguage language) {
    const DemoTexts& texts = demoTexts(secondTextLanguage(language));
    return {{QStringLiteral("1"), text(texts.conversation[0]), true},
            {QStringLiteral("2"), text(texts.conversation[1]), false},
            {QStringLiteral("3"), text(texts.conversation[2]), true}};
}

}  // namespace tavrolin
