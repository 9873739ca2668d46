#include "setup/SkillRole.h"

namespace orvek::setup {

const std::vector<SkillRole>& SkillRole::roles() {
    static const std::vector<SkillRole> kRoles = {
        {"developer", "Разработка", "Код, поиск ошибок и работа с репозиториями."},
        {"analyst", "Аналитика", "Таблицы, расчёты и проверка данных."},
        {"designer", "Дизайн", "Интерфейсы, графика и презентации."},
        {"manager", "Управление", "Планы, задачи и рабочие документы."},
        {"video", "Видео", "Сценарии и подготовка видеопроектов."},
    };
    return kRoles;
}

} // namespace orvek::setup
