// Stored definition of the title window, the first window the program shows.
#pragma once

#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"

class TitleForm : public platform::Form
{
protected:
    TitleForm();

private:
    platform::Container client_;

public:
    platform::Label Label1;
    platform::Label Label2;
    platform::CommandButton Command1;
};
