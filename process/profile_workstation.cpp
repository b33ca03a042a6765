#include "product_profile.h"

const ProductProfile& CurrentProfile() {
    return kWorkstationProfile;
}
